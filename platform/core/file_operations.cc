#include "platform/core/file_operations.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "platform/core/error.h"

namespace platform {

bool itemExists(const std::filesystem::path& path) {
  struct stat facts {};
  return !path.empty() && ::stat(path.c_str(), &facts) == 0;
}

bool isExecutableRegularFile(const std::filesystem::path& path) {
  struct stat facts {};
  if (path.empty() || ::stat(path.c_str(), &facts) != 0 || !S_ISREG(facts.st_mode)) return false;
  return ::access(path.c_str(), X_OK) == 0;
}

void moveItemWithoutReplacing(const std::filesystem::path& from, const std::filesystem::path& to) {
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return;
  const int error = errno;
  if (error == EEXIST) throw errnoError(error, to.native());
  if (error != EINVAL && error != ENOSYS) throw errnoError(error, from.native());
  // A file system without RENAME_NOREPLACE: link fails on an existing target, then the old
  // name goes. Directories cannot be moved this way and fail with link's error.
  if (::link(from.c_str(), to.c_str()) != 0) {
    const int linkError = errno;
    throw errnoError(linkError, linkError == EEXIST ? to.native() : from.native());
  }
  if (::unlink(from.c_str()) != 0) {
    const int unlinkError = errno;
    ::unlink(to.c_str());
    throw errnoError(unlinkError, from.native());
  }
}

bool renameWithoutReplacing(const std::filesystem::path& from, const std::filesystem::path& to) {
  try {
    moveItemWithoutReplacing(from, to);
    return true;
  } catch (const Error& error) {
    if (error.domain() == kPosixDomain && error.code() == EEXIST) return false;
    throw;
  }
}

void checkCanCreate(const std::filesystem::path& path) {
  const int fd =
      ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, S_IRUSR | S_IWUSR);
  if (fd < 0) throw errnoError(errno, path.native());
  ::close(fd);
  ::unlink(path.c_str());
}

}  // namespace platform
