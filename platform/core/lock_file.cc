#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

#include "platform/core/descriptor.h"
#include "platform/core/directory.h"
#include "platform/core/error.h"
#include "platform/core/files.h"

namespace platform {
namespace {

constexpr int kOpenFlags = O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;

// openOrCreate opens an existing lock file, or creates it with exactly 0600 (the umask could
// only narrow it, but the mode is meant exactly). Never truncates.
Descriptor openOrCreate(const std::filesystem::path& path) {
  for (int attempt = 0; attempt < 2; ++attempt) {
    Descriptor fd(::open(path.c_str(), kOpenFlags));
    if (fd.valid() || errno != ENOENT) return fd;
    fd = Descriptor(::open(path.c_str(), kOpenFlags | O_CREAT | O_EXCL, 0600));
    if (fd.valid()) {
      ::fchmod(fd.get(), 0600);
      return fd;
    }
    if (errno != EEXIST) return fd;  // another party created it in between: open it again
  }
  return Descriptor();
}

}  // namespace

std::optional<LockFile> LockFile::open(const std::filesystem::path& path) {
  Descriptor fd = openOrCreate(path);
  if (!fd.valid()) return std::nullopt;
  // Only a regular file is a lock file: a FIFO or device at that name is refused.
  struct stat facts {};
  if (::fstat(fd.get(), &facts) != 0 || !S_ISREG(facts.st_mode)) return std::nullopt;
  return LockFile(fd.release());
}

std::optional<LockFile> LockFile::openExisting(const std::filesystem::path& path) {
  // The folder as reached through the path (a link on the way is the caller's); what happens
  // in it is Directory's.
  try {
    const std::filesystem::path folder = path.parent_path();
    return Directory::open(folder.empty() ? "." : folder, Directory::Link::follow)
        .lockExisting(path.filename().native());
  } catch (const Error&) {
    return std::nullopt;
  }
}

LockFile::LockFile(LockFile&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}

LockFile& LockFile::operator=(LockFile&& other) noexcept {
  if (this != &other) {
    close();
    fd_ = std::exchange(other.fd_, -1);
  }
  return *this;
}

LockFile::~LockFile() {
  close();
}

bool LockFile::tryLockExclusive() {
  if (fd_ < 0) return false;
  int result = 0;
  do {
    result = ::flock(fd_, LOCK_EX | LOCK_NB);
  } while (result != 0 && errno == EINTR);
  return result == 0;
}

void LockFile::unlock() {
  if (fd_ >= 0) ::flock(fd_, LOCK_UN);
}

void LockFile::close() {
  if (fd_ >= 0) ::close(std::exchange(fd_, -1));
}

}  // namespace platform
