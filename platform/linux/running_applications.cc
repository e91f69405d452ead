#include "platform/linux/running_applications.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <map>
#include <optional>
#include <string_view>
#include <system_error>

#include "platform/core/error.h"
#include "platform/core/files.h"
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

// homeVariableOf reads /proc/PID/environ, the environment the process was started with, for
// its first HOME entry (the one getenv finds). Nullopt when the file cannot be read (the process
// ended, or it may not be inspected); a process without HOME gives an empty string, which the
// home rule treats like any value that is not absolute. So does a process in the middle of its
// exec, whose environment is not in place yet: at worst a host just starting is not counted and
// the provider starts another, which shares the queue with it.
std::optional<std::string> homeVariableOf(int pid) {
  constexpr std::string_view kPrefix = "HOME=";
  // An environment is bounded by the kernel's limit on arguments and environment together.
  constexpr std::uintmax_t kLargestEnvironment = std::uintmax_t{16} * 1024 * 1024;
  RecordRead environment;
  try {
    environment = readRecordFile("/proc/" + std::to_string(pid) + "/environ", kLargestEnvironment);
  } catch (const Error&) {
    return std::nullopt;
  }
  if (environment.status != RecordRead::Status::ok) return std::nullopt;
  std::string_view entries = environment.bytes;
  while (!entries.empty()) {
    const std::size_t end = std::min(entries.find('\0'), entries.size());
    const std::string_view entry = entries.substr(0, end);
    if (entry.starts_with(kPrefix)) return std::string(entry.substr(kPrefix.size()));
    entries.remove_prefix(std::min(end + 1, entries.size()));
  }
  return std::string();
}

bool sameDirectory(const std::filesystem::path& one, const std::filesystem::path& other) {
  const auto normal = [](const std::filesystem::path& path) {
    std::string text = path.lexically_normal().string();
    while (text.size() > 1 && text.ends_with('/')) text.pop_back();
    return text;
  };
  if (normal(one) == normal(other)) return true;
  std::error_code error;  // two names for one directory (a link, a bind mount) share its files
  return std::filesystem::equivalent(one, other, error) && !error;
}

// servesHome: the process's home by the platform's rule (HOME when set and absolute, else this
// user's entry in the user database) is `home`. Processes of this user only are asked.
bool servesHome(int pid, const std::filesystem::path& home) {
  const std::optional<std::string> variable = homeVariableOf(pid);
  if (!variable) return false;
  const bool isSet = !variable->empty();
  return sameDirectory(
      homeDirectoryFor(isSet ? std::optional<std::string_view>(*variable) : std::nullopt), home);
}

}  // namespace

std::vector<RunningApplication> runningApplicationsWithIdentifier(
    const std::string& bundleIdentifier) {
  std::vector<RunningApplication> found;
  std::map<std::filesystem::path, bool> matches;  // each bundle's Info is read once per call
  const uid_t user = ::getuid();
  const std::filesystem::path home = homeDirectory();
  for (const int pid : processIds()) {
    const auto bundle = bundleOfProcess(pid, user);
    if (!bundle) continue;
    auto known = matches.find(*bundle);
    if (known == matches.end()) {
      const auto opened = Bundle::open(*bundle);
      const bool match = opened && opened->identifier() == bundleIdentifier;
      known = matches.emplace(*bundle, match).first;
    }
    // A host of this bundle that serves another home (another state root) never answers our
    // requests; it must not stand for the running bound copy.
    if (known->second && servesHome(pid, home)) found.push_back({pid, *bundle});
  }
  return found;
}

}  // namespace platform
