// report_app stands in for a launched application: it writes what it was started with (its
// arguments, open descriptors, session and process ids, blocked and ignored signals) to the file
// named by its first argument, then stays alive for the seconds given as its second argument.
// Written with the standard library only; /proc tells it everything it reports.
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

namespace {

// statField: field `index` (1-based) of /proc/self/stat, after the parenthesised name.
std::string statField(int index) {
  std::ifstream in("/proc/self/stat");
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::istringstream rest(text.substr(text.rfind(')') + 2));
  std::string field;
  for (int i = 3; i <= index; ++i) rest >> field;
  return field;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) return 64;
  const std::filesystem::path report = argv[1];
  std::ostringstream out;
  for (int i = 0; i < argc; ++i) out << "arg " << argv[i] << '\n';
  out << "pid " << std::filesystem::read_symlink("/proc/self").string() << '\n';
  out << "sid " << statField(6) << '\n';
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
    std::error_code error;
    const auto target = std::filesystem::read_symlink(entry.path(), error);
    // The directory being listed shows up as a descriptor of its own.
    if (target.string().find("/fd") != std::string::npos) continue;
    out << "fd " << entry.path().filename().string() << ' ' << target.string() << '\n';
  }
  std::ifstream status("/proc/self/status");  // opened after the descriptors were listed
  for (std::string line; std::getline(status, line);) {
    // Blocked and ignored signals, as hexadecimal masks.
    if (line.rfind("SigBlk:", 0) == 0 || line.rfind("SigIgn:", 0) == 0) {
      std::istringstream fields(line);
      std::string name;
      std::string mask;
      fields >> name >> mask;
      out << name.substr(0, name.size() - 1) << ' ' << mask << '\n';
    }
  }
  const auto temporary = report.string() + ".part";
  std::ofstream(temporary) << out.str();
  std::filesystem::rename(temporary, report);  // the test sees no half-written report
  std::this_thread::sleep_for(std::chrono::duration<double>(std::stod(argv[2])));
  return 0;
}
