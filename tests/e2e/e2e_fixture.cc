#include "tests/e2e/e2e_fixture.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <thread>

#include "exchange/constants.h"
#include "exchange/record_files.h"

namespace e2e {
namespace {

std::string readText(const fs::path& path) {
  std::ifstream stream(path, std::ios::binary);
  std::ostringstream text;
  text << stream.rdbuf();
  return text.str();
}

constexpr int kSignalKill = 9;

// processesRunningFrom: processes whose executable lies below `directory`.
std::vector<int> processesRunningFrom(const fs::path& directory) {
  std::vector<int> pids;
  std::error_code error;
  for (const auto& entry : fs::directory_iterator("/proc", error)) {
    const std::string name = entry.path().filename().string();
    if (name.empty() || !std::all_of(name.begin(), name.end(), ::isdigit)) continue;
    std::error_code unreadable;
    const fs::path executable = fs::read_symlink(entry.path() / "exe", unreadable);
    if (!unreadable && executable.string().starts_with(directory.string() + "/")) {
      pids.push_back(std::stoi(name));
    }
  }
  return pids;
}

}  // namespace

std::string Program::output() const {
  return readText(outputFile);
}
std::string Program::errors() const {
  return readText(errorsFile);
}

void EndToEnd::SetUp() {
  fs::create_directories(home());
  fs::copy(fs::path(TONEBROOK_BUILD_DIR) / "Tonebrook.app", hostBundle(),
           fs::copy_options::recursive);
  // Children inherit this environment, and so do the providers the private bus starts.
  setenv("HOME", home().c_str(), 1);
  unsetenv("XDG_DATA_HOME");
  unsetenv("DBUS_STARTER_ADDRESS");
  setenv("DBUS_SESSION_BUS_ADDRESS", ("unix:path=" + (directory_ / "no-bus").string()).c_str(), 1);
  // Hosts tell each outcome on the desktop, with zenity or kdialog when no notification server
  // answers: never on the desktop of whoever runs the tests.
  unsetenv("DISPLAY");
  unsetenv("WAYLAND_DISPLAY");
}

void EndToEnd::TearDown() {
  if (std::optional<int> pid = providerPid()) providers_.push_back(*pid);
  for (int pid : providers_) {
    if (platform::testing::processAlive(pid)) platform::testing::sendSignal(pid, kSignalKill);
  }
  // Hosts launched from this test's copies linger a moment after their work; they would write
  // into the directory again after it is removed.
  const std::vector<int> hosts = processesRunningFrom(directory_.path());
  for (int pid : hosts) platform::testing::sendSignal(pid, kSignalKill);
  waitFor([&] { return std::none_of(hosts.begin(), hosts.end(), platform::testing::processAlive); },
          2);
  bus_.reset();
}

fs::path EndToEnd::stateRoot() const {
  return home() / "Library/Application Support/Tonebrook/FinderConversion";
}
fs::path EndToEnd::installedPackage() const {
  return home() / "Library/Services" / FinderConversion::serviceName;
}
fs::path EndToEnd::builtPackage() const {
  return fs::path(TONEBROOK_BUILD_DIR) / FinderConversion::serviceName;
}

void EndToEnd::startBus() {
  const fs::path services = home() / ".local/share/dbus-1/services";
  fs::create_directories(services);
  fs::create_directories(directory_ / "bus");
  bus_ = std::make_unique<platform::testing::PrivateBus>(directory_ / "bus", services);
  bus_->useAsSessionBus();
}

const std::string& EndToEnd::busAddress() const {
  return bus_->address();
}

std::unique_ptr<Program> EndToEnd::start(std::vector<std::string> arguments,
                                         std::map<std::string, std::string> environment) {
  // Tests may start programs from several threads at once (the races).
  static std::atomic<int> counter = 0;
  const std::string name = "child-" + std::to_string(++counter);
  const fs::path output = directory_ / (name + ".out");
  const fs::path errors = directory_ / (name + ".err");
  platform::SpawnOptions options;
  options.arguments = std::move(arguments);
  options.environment = std::move(environment);
  options.workingDirectory = directory_.path();
  options.output = platform::StreamTarget::toFile(output);
  options.errors = platform::StreamTarget::toFile(errors);
  return std::make_unique<Program>(Program{platform::ChildProcess::spawn(options), output, errors});
}

EndToEnd::RunResult EndToEnd::run(std::vector<std::string> arguments, double timeoutSeconds,
                                  std::map<std::string, std::string> environment) {
  auto child = start(std::move(arguments), std::move(environment));
  RunResult result;
  result.status = child->waitFor(platform::Seconds(timeoutSeconds));
  result.errors = child->errors();
  result.output = child->output();
  return result;
}

void EndToEnd::install(const fs::path& package) {
  const RunResult result = run({host().string(), "--install-addon", package.string()});
  ASSERT_EQ(result.status, 0) << result.errors;
  ASSERT_EQ(result.errors, "");
}

fs::path EndToEnd::packageWithVersion(const std::string& version) {
  const fs::path package = directory_ / ("v" + version) / FinderConversion::serviceName;
  fs::create_directories(package.parent_path());
  fs::copy(builtPackage(), package, fs::copy_options::recursive);
  const fs::path info = package / "Contents/Info.plist";
  std::string text = readText(info);
  const std::string key = "<key>CFBundleVersion</key>";
  const std::size_t open = text.find("<string>", text.find(key)) + 8;
  text.replace(open, text.find("</string>", open) - open, version);
  std::ofstream(info, std::ios::binary | std::ios::trunc) << text;
  return package;
}

fs::path EndToEnd::audioFile(const std::string& name) {
  const fs::path path = home() / "Music" / name;
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << "RIFF\x24\0\0\0WAVEfmt not really audio";
  return path;
}

std::optional<int> EndToEnd::providerPid() const {
  try {
    const std::string document = readText(stateRoot() / FinderConversion::names::kProviderState);
    return nlohmann::json::parse(document).at("pid").get<int>();
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

bool EndToEnd::waitFor(const std::function<bool()>& condition, double seconds) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  while (!condition()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

}  // namespace e2e
