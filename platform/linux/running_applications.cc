#include "platform/linux/running_applications.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <map>
#include <system_error>

#include "platform/desktop/bundle.h"

namespace platform {
namespace {

std::vector<int> processIds() {
  std::vector<int> pids;
  std::error_code error;
  for (std::filesystem::directory_iterator it("/proc", error), end; !error && it != end;
       it.increment(error)) {
    const std::string name = it->path().filename().string();
    int pid = 0;
    const auto [rest, status] = std::from_chars(name.data(), name.data() + name.size(), pid);
    if (status == std::errc() && rest == name.data() + name.size() && pid > 0) {
      pids.push_back(pid);
    }
  }
  std::sort(pids.begin(), pids.end());
  return pids;
}

// bundleOfProcess: B when the process belongs to `user` and runs <B>/Contents/MacOS/<file>.
// Called for every process on every Services call: one readlink for most of them, and the owner
// is looked up only for the few that run from a bundle.
std::optional<std::filesystem::path> bundleOfProcess(int pid, uid_t user) {
  const std::string proc = "/proc/" + std::to_string(pid);
  std::array<char, 4096> target{};
  const ssize_t length = ::readlink((proc + "/exe").c_str(), target.data(), target.size());
  if (length <= 0 || static_cast<std::size_t>(length) >= target.size()) return std::nullopt;
  const std::filesystem::path executable(
      std::string(target.data(), static_cast<std::size_t>(length)));
  if (!executable.is_absolute()) return std::nullopt;
  const auto directory = executable.parent_path();
  if (directory.filename() != "MacOS" || directory.parent_path().filename() != "Contents") {
    return std::nullopt;
  }
  struct stat facts {};
  if (::stat(proc.c_str(), &facts) != 0 || facts.st_uid != user) return std::nullopt;
  return directory.parent_path().parent_path();
}

}  // namespace

std::vector<RunningApplication> runningApplicationsWithIdentifier(
    const std::string& bundleIdentifier) {
  std::vector<RunningApplication> found;
  std::map<std::filesystem::path, bool> matches;  // each bundle's Info is read once per call
  const uid_t user = ::getuid();
  for (const int pid : processIds()) {
    const auto bundle = bundleOfProcess(pid, user);
    if (!bundle) continue;
    auto known = matches.find(*bundle);
    if (known == matches.end()) {
      const auto opened = Bundle::open(*bundle);
      const bool match = opened && opened->identifier() == bundleIdentifier;
      known = matches.emplace(*bundle, match).first;
    }
    if (known->second) found.push_back({pid, *bundle});
  }
  return found;
}

}  // namespace platform
