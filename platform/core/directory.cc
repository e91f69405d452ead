#include "platform/core/directory.h"

#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <utility>

#include "platform/core/error.h"

namespace platform {
namespace {

constexpr std::size_t kReadChunk = 1 << 16;
constexpr std::string_view kTemporaryMarker = ".tmp-";
constexpr std::size_t kRandomPart = 6;
constexpr int kTemporaryAttempts = 100;
constexpr unsigned kTemporaryMode = 0600;

// checkName refuses what is not one entry of the directory: a name with "/" or a way out.
void checkName(std::string_view name, const std::filesystem::path& directory) {
  if (name.empty() || name == "." || name == ".." || name.find('/') != std::string_view::npos) {
    throw errnoError(EINVAL, (directory / std::string(name)).native());
  }
}

void writeAll(int fd, std::string_view bytes, const std::string& path) {
  while (!bytes.empty()) {
    const ssize_t written = ::write(fd, bytes.data(), bytes.size());
    if (written < 0) {
      if (errno == EINTR) continue;
      throw errnoError(errno, path);
    }
    bytes.remove_prefix(static_cast<std::size_t>(written));
  }
}

// appendUpTo reads from `fd` until end of file, but never more than `limit` bytes in all;
// returns false when more bytes than that remain.
bool appendUpTo(int fd, std::string& out, std::uintmax_t limit, const std::string& path) {
  std::string buffer(kReadChunk, '\0');
  for (;;) {
    const ssize_t count = ::read(fd, buffer.data(), buffer.size());
    if (count < 0) {
      if (errno == EINTR) continue;
      throw errnoError(errno, path);
    }
    if (count == 0) return true;
    out.append(buffer.data(), static_cast<std::size_t>(count));
    if (out.size() > limit) return false;
  }
}

std::string randomPart() {
  static constexpr std::string_view kAlphabet =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  std::array<unsigned char, kRandomPart> bytes{};
  if (::getrandom(bytes.data(), bytes.size(), 0) != static_cast<ssize_t>(bytes.size())) {
    throw errnoError(errno, "getrandom");
  }
  std::string part;
  for (unsigned char byte : bytes) part += kAlphabet[byte % kAlphabet.size()];
  return part;
}

// TemporaryEntry is the hidden entry beside a target; it removes itself unless committed.
class TemporaryEntry {
 public:
  TemporaryEntry(int directory, std::string_view target, const std::string& targetPath)
      : directory_(directory) {
    for (int attempt = 0; attempt < kTemporaryAttempts; ++attempt) {
      name_ = "." + std::string(target) + std::string(kTemporaryMarker) + randomPart();
      fd_ = Descriptor(::openat(directory, name_.c_str(),
                                O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                                kTemporaryMode));
      if (fd_.valid() || errno != EEXIST) break;
    }
    if (!fd_.valid()) throw errnoError(errno, targetPath);
  }
  TemporaryEntry(const TemporaryEntry&) = delete;
  TemporaryEntry& operator=(const TemporaryEntry&) = delete;
  ~TemporaryEntry() {
    if (!committed_) ::unlinkat(directory_, name_.c_str(), 0);
  }

  int descriptor() const { return fd_.get(); }
  const std::string& name() const { return name_; }
  void close(const std::string& targetPath) {
    if (::close(fd_.release()) != 0) throw errnoError(errno, targetPath);
  }
  void commit() { committed_ = true; }

 private:
  int directory_;
  std::string name_;
  Descriptor fd_;
  bool committed_ = false;
};

// fill writes `bytes` into the temporary entry, gives it `mode`, flushes it when asked and
// closes it.
void fill(TemporaryEntry& temporary, std::string_view bytes, Durability durability, unsigned mode,
          const std::string& target) {
  writeAll(temporary.descriptor(), bytes, target);
  if (mode != kTemporaryMode && ::fchmod(temporary.descriptor(), static_cast<mode_t>(mode)) != 0) {
    throw errnoError(errno, target);
  }
  if (durability == Durability::flushed && ::fsync(temporary.descriptor()) != 0) {
    throw errnoError(errno, target);
  }
  temporary.close(target);
}

// putInPlace renames the temporary entry `temporary` over `name` in `directory`.
void putInPlace(int directory, const std::string& temporary, const std::string& name,
                const std::string& target) {
  if (::renameat(directory, temporary.c_str(), directory, name.c_str()) != 0) {
    throw errnoError(errno, target);
  }
}

// flushRenames flushes the directory after a rename, when asked.
void flushRenames(int directory, Durability durability, const std::filesystem::path& path) {
  if (durability == Durability::flushed && ::fsync(directory) != 0) {
    throw errnoError(errno, path.native());
  }
}

ItemKind kindOfMode(mode_t mode) {
  if (S_ISLNK(mode)) return ItemKind::symbolicLink;
  if (S_ISREG(mode)) return ItemKind::regularFile;
  if (S_ISDIR(mode)) return ItemKind::directory;
  return ItemKind::other;
}

std::filesystem::file_time_type modifiedTime(const struct stat& facts) {
  using namespace std::chrono;
  const auto since = seconds(facts.st_mtim.tv_sec) + nanoseconds(facts.st_mtim.tv_nsec);
  const auto wall = system_clock::time_point(duration_cast<system_clock::duration>(since));
  return std::filesystem::file_time_type::clock::from_sys(wall);
}

bool isTemporaryOf(std::string_view name, const std::function<bool(std::string_view)>& owned) {
  const std::size_t marker = name.rfind(kTemporaryMarker);
  if (name.size() < 2 || name.front() != '.' || marker == std::string_view::npos || marker <= 1 ||
      name.size() != marker + kTemporaryMarker.size() + kRandomPart) {
    return false;
  }
  return owned(name.substr(1, marker - 1));
}

// openFolder opens the folder `name` of `directory` (AT_FDCWD: a path), following a link at
// `name` or not. When it fails errno is set, ELOOP for a link it must not follow: the kernel
// says ENOTDIR there, which would name the wrong fault.
Descriptor openFolder(int directory, const char* name, Directory::Link link) {
  const int noFollow = link == Directory::Link::refuse ? O_NOFOLLOW : 0;
  Descriptor fd(::openat(directory, name, O_RDONLY | O_DIRECTORY | O_CLOEXEC | noFollow));
  if (!fd.valid() && errno == ENOTDIR && link == Directory::Link::refuse) {
    struct stat facts {};
    const bool isLink =
        ::fstatat(directory, name, &facts, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(facts.st_mode);
    errno = isLink ? ELOOP : ENOTDIR;
  }
  return fd;
}

}  // namespace

Directory Directory::open(const std::filesystem::path& path, Link link) {
  Descriptor fd = openFolder(AT_FDCWD, path.c_str(), link);
  if (!fd.valid()) throw errnoError(errno, path.native());
  return Directory(std::move(fd), path);
}

std::optional<Directory> Directory::openIfPresent(const std::filesystem::path& path, Link link) {
  Descriptor fd = openFolder(AT_FDCWD, path.c_str(), link);
  if (!fd.valid()) {
    if (errno == ENOENT) return std::nullopt;
    throw errnoError(errno, path.native());
  }
  return Directory(std::move(fd), path);
}

Directory Directory::prepare(const std::filesystem::path& path, unsigned mode) {
  // A link at the last component passes createDirectories (it leads to a directory) but not the
  // opening.
  createDirectories(path, mode);
  return open(path, Link::refuse);
}

Directory Directory::prepareBelow(const std::filesystem::path& base,
                                  const std::filesystem::path& relative, unsigned mode) {
  Directory current = open(base, Link::follow);
  for (const std::filesystem::path& component : relative) {
    const std::string name = component.native();
    if (name.empty() || name == ".") continue;
    checkName(name, current.path_);
    std::filesystem::path path = current.path_ / name;
    if (::mkdirat(current.fd_.get(), name.c_str(), static_cast<mode_t>(mode)) == 0) {
      // mkdirat applies the umask; the mode asked for is meant exactly.
      if (::fchmodat(current.fd_.get(), name.c_str(), static_cast<mode_t>(mode), 0) != 0) {
        throw errnoError(errno, path.native());
      }
    } else if (errno != EEXIST) {
      throw errnoError(errno, path.native());
    }
    Descriptor next = openFolder(current.fd_.get(), name.c_str(), Link::refuse);
    if (!next.valid()) throw errnoError(errno, path.native());
    current = Directory(std::move(next), std::move(path));
  }
  return current;
}

std::string Directory::pathOf(std::string_view name) const {
  return (path_ / std::string(name)).native();
}

// writeAtomically is stage(...).commit() without the staged entry's own descriptor: the
// heartbeat takes this road five times a second.
void Directory::writeAtomically(std::string_view name, std::string_view bytes,
                                Durability durability, unsigned mode) {
  checkName(name, path_);
  const std::string target = pathOf(name);
  TemporaryEntry temporary(fd_.get(), name, target);
  fill(temporary, bytes, durability, mode, target);
  putInPlace(fd_.get(), temporary.name(), std::string(name), target);
  temporary.commit();
  flushRenames(fd_.get(), durability, path_);
}

Directory::StagedEntry Directory::stage(std::string_view name, std::string_view bytes,
                                        Durability durability, unsigned mode) {
  checkName(name, path_);
  const std::string target = pathOf(name);
  // The staged entry renames and flushes in this directory later, through a descriptor of its
  // own: this object may be gone by then.
  Descriptor directory(::fcntl(fd_.get(), F_DUPFD_CLOEXEC, 0));
  if (!directory.valid()) throw errnoError(errno, path_.native());
  TemporaryEntry temporary(fd_.get(), name, target);
  fill(temporary, bytes, durability, mode, target);
  temporary.commit();  // from here the staged entry removes it
  return StagedEntry(std::move(directory), temporary.name(), std::string(name), path_, durability);
}

Directory::StagedEntry::~StagedEntry() {
  if (!committed_ && directory_.valid()) ::unlinkat(directory_.get(), temporary_.c_str(), 0);
}

void Directory::StagedEntry::commit() {
  const std::string targetPath = (directoryPath_ / target_).native();
  if (committed_ || !directory_.valid()) throw errnoError(EINVAL, targetPath);
  putInPlace(directory_.get(), temporary_, target_, targetPath);
  committed_ = true;
  flushRenames(directory_.get(), durability_, directoryPath_);
}

RecordRead Directory::readRecord(std::string_view name, std::uintmax_t limit) const {
  checkName(name, path_);
  const std::string entry(name);
  // The link and the size are tested on the entry itself before it is opened, so that an
  // oversized record is refused as such even when it could not be read.
  struct stat facts {};
  if (::fstatat(fd_.get(), entry.c_str(), &facts, AT_SYMLINK_NOFOLLOW) != 0) {
    throw errnoError(errno, pathOf(name));
  }
  if (S_ISLNK(facts.st_mode)) return {RecordRead::Status::symbolicLink, {}};
  if (S_ISDIR(facts.st_mode)) throw errnoError(EISDIR, pathOf(name));
  if (!S_ISREG(facts.st_mode)) return {RecordRead::Status::notRegularFile, {}};
  if (static_cast<std::uintmax_t>(facts.st_size) > limit) return {RecordRead::Status::tooLarge, {}};
  // Opened without following or blocking, and tested again: another entry may have been put in
  // its place meanwhile.
  const Descriptor fd(
      ::openat(fd_.get(), entry.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  if (!fd.valid()) {
    if (errno == ELOOP) return {RecordRead::Status::symbolicLink, {}};
    throw errnoError(errno, pathOf(name));
  }
  if (::fstat(fd.get(), &facts) != 0) throw errnoError(errno, pathOf(name));
  if (S_ISDIR(facts.st_mode)) throw errnoError(EISDIR, pathOf(name));
  if (!S_ISREG(facts.st_mode)) return {RecordRead::Status::notRegularFile, {}};
  RecordRead result;
  // The file may grow after fstat; the bound holds for the bytes actually read too.
  if (!appendUpTo(fd.get(), result.bytes, limit, pathOf(name))) {
    return {RecordRead::Status::tooLarge, {}};
  }
  return result;
}

std::optional<LockFile> Directory::lockExisting(std::string_view name) const {
  checkName(name, path_);
  const std::string entry(name);
  Descriptor fd(::openat(fd_.get(), entry.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  if (!fd.valid()) return std::nullopt;
  struct stat facts {};
  if (::fstat(fd.get(), &facts) != 0 || !S_ISREG(facts.st_mode)) return std::nullopt;
  return LockFile(fd.release());
}

bool Directory::renameWithoutReplacing(std::string_view from, std::string_view to) {
  try {
    moveWithoutReplacing(from, *this, to);
    return true;
  } catch (const Error& error) {
    if (error.domain() == kPosixDomain && error.code() == EEXIST) return false;
    throw;
  }
}

void Directory::moveWithoutReplacing(std::string_view from, const Directory& destination,
                                     std::string_view to) {
  checkName(from, path_);
  checkName(to, destination.path_);
  const std::string source(from);
  const std::string target(to);
  const int there = destination.fd_.get();
  if (::renameat2(fd_.get(), source.c_str(), there, target.c_str(), RENAME_NOREPLACE) == 0) return;
  const int error = errno;
  if (error == EEXIST) throw errnoError(error, destination.pathOf(to));
  if (error != EINVAL && error != ENOSYS) throw errnoError(error, pathOf(from));
  // A file system without RENAME_NOREPLACE: link fails on an existing target, then the old
  // name goes. Directories cannot be moved this way and fail with link's error.
  if (::linkat(fd_.get(), source.c_str(), there, target.c_str(), 0) != 0) {
    const int linkError = errno;
    throw errnoError(linkError, linkError == EEXIST ? destination.pathOf(to) : pathOf(from));
  }
  if (::unlinkat(fd_.get(), source.c_str(), 0) != 0) {
    const int unlinkError = errno;
    ::unlinkat(there, target.c_str(), 0);
    throw errnoError(unlinkError, pathOf(from));
  }
}

bool Directory::remove(std::string_view name) {
  checkName(name, path_);
  const std::string entry(name);
  if (::unlinkat(fd_.get(), entry.c_str(), 0) == 0) return true;
  if (errno == ENOENT) return false;
  throw errnoError(errno, pathOf(name));
}

std::vector<Directory::Entry> Directory::entries() const {
  // The listing reads through its own descriptor: this one keeps no position to disturb.
  const int listing = ::openat(fd_.get(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (listing < 0) throw errnoError(errno, path_.native());
  DIR* stream = ::fdopendir(listing);
  if (stream == nullptr) {
    const int error = errno;
    ::close(listing);
    throw errnoError(error, path_.native());
  }
  std::vector<Entry> found;
  while (const dirent* item = ::readdir(stream)) {
    const std::string_view name(item->d_name);
    if (name == "." || name == "..") continue;
    struct stat facts {};
    if (::fstatat(fd_.get(), item->d_name, &facts, AT_SYMLINK_NOFOLLOW) != 0) continue;
    found.push_back({std::string(name), kindOfMode(facts.st_mode), modifiedTime(facts)});
  }
  ::closedir(stream);
  return found;
}

std::size_t Directory::removeStaleTemporaryFiles(
    std::chrono::seconds age, const std::function<bool(std::string_view)>& owned) {
  const auto oldest = std::filesystem::file_time_type::clock::now() - age;
  std::size_t removed = 0;
  for (const Entry& entry : entries()) {
    if (entry.kind != ItemKind::regularFile || entry.modified >= oldest) continue;
    if (!isTemporaryOf(entry.name, owned)) continue;
    if (::unlinkat(fd_.get(), entry.name.c_str(), 0) == 0) ++removed;
  }
  return removed;
}

}  // namespace platform
