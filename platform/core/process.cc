#include <pwd.h>
#include <time.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

#include "platform/core/error.h"
#include "platform/core/files.h"

namespace platform {
namespace {

// Seconds from 1970-01-01 to 2001-01-01, both 00:00:00 UTC.
constexpr double kReferenceDateOffset = 978307200.0;

std::filesystem::path userDatabaseHome() {
  long suggested = ::sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buffer(suggested > 0 ? static_cast<std::size_t>(suggested) : 16384);
  for (;;) {
    struct passwd entry {};
    struct passwd* found = nullptr;
    const int error = ::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found);
    if (error == ERANGE && buffer.size() < (1u << 20)) {
      buffer.resize(buffer.size() * 2);
      continue;
    }
    if (found != nullptr && found->pw_dir != nullptr) return found->pw_dir;
    // No user record at all: "/" keeps every derived location absolute.
    return "/";
  }
}

}  // namespace

std::filesystem::path homeDirectory() {
  const char* home = std::getenv("HOME");  // NOLINT(concurrency-mt-unsafe): nobody sets it
  return homeDirectoryFor(home != nullptr ? std::optional<std::string_view>(home) : std::nullopt);
}

std::filesystem::path homeDirectoryFor(std::optional<std::string_view> homeVariable) {
  if (homeVariable && homeVariable->starts_with('/')) return *homeVariable;
  return userDatabaseHome();
}

std::int32_t processId() {
  return static_cast<std::int32_t>(::getpid());
}

double secondsSinceReferenceDate() {
  struct timespec now {};
  ::clock_gettime(CLOCK_REALTIME, &now);
  return static_cast<double>(now.tv_sec) - kReferenceDateOffset +
         static_cast<double>(now.tv_nsec) / 1e9;
}

}  // namespace platform
