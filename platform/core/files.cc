#include "platform/core/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <utility>
#include <vector>

#include "platform/core/descriptor.h"
#include "platform/core/error.h"

namespace platform {
namespace {

constexpr std::size_t kReadChunk = 1 << 16;

void writeAll(int fd, std::string_view bytes, const std::filesystem::path& path) {
  while (!bytes.empty()) {
    const ssize_t written = ::write(fd, bytes.data(), bytes.size());
    if (written < 0) {
      if (errno == EINTR) continue;
      throw errnoError(errno, path.native());
    }
    bytes.remove_prefix(static_cast<std::size_t>(written));
  }
}

// appendUpTo reads from `fd` until end of file, but never more than `limit` bytes in all;
// returns false when more bytes than that remain.
bool appendUpTo(int fd, std::string& out, std::uintmax_t limit, const std::filesystem::path& path) {
  std::vector<char> buffer(kReadChunk);
  for (;;) {
    const ssize_t count = ::read(fd, buffer.data(), buffer.size());
    if (count < 0) {
      if (errno == EINTR) continue;
      throw errnoError(errno, path.native());
    }
    if (count == 0) return true;
    out.append(buffer.data(), static_cast<std::size_t>(count));
    if (out.size() > limit) return false;
  }
}

std::filesystem::path directoryOf(const std::filesystem::path& target) {
  std::filesystem::path directory = target.parent_path();
  return directory.empty() ? std::filesystem::path(".") : directory;
}

void flushDirectory(const std::filesystem::path& directory) {
  const Descriptor fd(::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!fd.valid()) throw errnoError(errno, directory.native());
  if (::fsync(fd.get()) != 0) throw errnoError(errno, directory.native());
}

// TemporaryFile is the hidden file beside a target; it removes itself unless committed.
class TemporaryFile {
 public:
  explicit TemporaryFile(const std::filesystem::path& target)
      : path_(directoryOf(target) / ("." + target.filename().native() + ".tmp-XXXXXX")) {
    std::string name = path_.native();
    fd_ = Descriptor(::mkostemp(name.data(), O_CLOEXEC));
    if (!fd_.valid()) throw errnoError(errno, target.native());
    path_ = std::move(name);
  }
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;
  ~TemporaryFile() {
    if (!committed_) ::unlink(path_.c_str());
  }

  int descriptor() const { return fd_.get(); }
  const std::filesystem::path& path() const { return path_; }
  void close(const std::filesystem::path& target) {
    if (::close(fd_.release()) != 0) throw errnoError(errno, target.native());
  }
  void commit() { committed_ = true; }

 private:
  std::filesystem::path path_;
  Descriptor fd_;
  bool committed_ = false;
};

}  // namespace

void writeFileAtomically(const std::filesystem::path& target, std::string_view bytes,
                         Durability durability) {
  TemporaryFile temporary(target);
  writeAll(temporary.descriptor(), bytes, target);
  if (durability == Durability::flushed && ::fsync(temporary.descriptor()) != 0) {
    throw errnoError(errno, target.native());
  }
  temporary.close(target);
  if (::rename(temporary.path().c_str(), target.c_str()) != 0) {
    throw errnoError(errno, target.native());
  }
  temporary.commit();
  if (durability == Durability::flushed) flushDirectory(directoryOf(target));
}

std::size_t removeStaleTemporaryFiles(const std::filesystem::path& directory,
                                      std::chrono::seconds age,
                                      const std::function<bool(std::string_view)>& owned) {
  static constexpr std::string_view kMarker = ".tmp-";
  static constexpr std::size_t kRandomPart = 6;  // mkostemp's XXXXXX
  std::error_code error;
  std::filesystem::directory_iterator entries(directory, error);
  if (error) return 0;
  const auto oldest = std::chrono::system_clock::now() - age;
  std::size_t removed = 0;
  for (const auto& entry : entries) {
    const std::string name = entry.path().filename().string();
    const std::size_t marker = name.rfind(kMarker);
    if (name.size() < 2 || name.front() != '.' || marker == std::string::npos || marker <= 1 ||
        name.size() != marker + kMarker.size() + kRandomPart) {
      continue;
    }
    if (!owned(std::string_view(name).substr(1, marker - 1))) continue;
    struct stat facts {};
    if (::lstat(entry.path().c_str(), &facts) != 0 || !S_ISREG(facts.st_mode)) continue;
    const auto modified = std::chrono::system_clock::from_time_t(facts.st_mtim.tv_sec);
    if (modified >= oldest) continue;
    if (::unlink(entry.path().c_str()) == 0) ++removed;
  }
  return removed;
}

RecordRead readRecordFile(const std::filesystem::path& path, std::uintmax_t limit) {
  const Descriptor fd(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  if (!fd.valid()) {
    const int error = errno;
    if (error == ELOOP && itemKind(path) == ItemKind::symbolicLink) {
      return {RecordRead::Status::symbolicLink, {}};
    }
    throw errnoError(error, path.native());
  }
  struct stat facts {};
  if (::fstat(fd.get(), &facts) != 0) throw errnoError(errno, path.native());
  if (S_ISDIR(facts.st_mode)) throw errnoError(EISDIR, path.native());
  if (!S_ISREG(facts.st_mode)) return {RecordRead::Status::notRegularFile, {}};
  if (static_cast<std::uintmax_t>(facts.st_size) > limit) return {RecordRead::Status::tooLarge, {}};
  RecordRead result;
  // The file may grow after fstat; the bound holds for the bytes actually read too.
  if (!appendUpTo(fd.get(), result.bytes, limit, path)) return {RecordRead::Status::tooLarge, {}};
  return result;
}

std::optional<FileIdentity> identity(const std::filesystem::path& path) {
  struct stat facts {};
  if (::stat(path.c_str(), &facts) != 0) return std::nullopt;
  return FileIdentity{static_cast<std::uint64_t>(facts.st_dev),
                      static_cast<std::uint64_t>(facts.st_ino)};
}

static ItemKind kindOf(const std::filesystem::path& path, bool followLinks) {
  struct stat facts {};
  const int result = followLinks ? ::stat(path.c_str(), &facts) : ::lstat(path.c_str(), &facts);
  if (result != 0) {
    if (errno == ENOENT) return ItemKind::missing;
    throw errnoError(errno, path.native());
  }
  if (S_ISLNK(facts.st_mode)) return ItemKind::symbolicLink;
  if (S_ISREG(facts.st_mode)) return ItemKind::regularFile;
  if (S_ISDIR(facts.st_mode)) return ItemKind::directory;
  return ItemKind::other;
}

ItemKind itemKind(const std::filesystem::path& path) {
  return kindOf(path, false);
}

ItemKind resolvedItemKind(const std::filesystem::path& path) {
  return kindOf(path, true);
}

void createDirectories(const std::filesystem::path& path, unsigned mode) {
  std::filesystem::path prefix;
  // The last component that names something: "a/b/" ends in an empty one, and "b" must still
  // turn out to be a directory.
  auto last = std::prev(path.end());
  while (last != path.begin() && last->empty()) --last;
  for (auto component = path.begin(); component != path.end(); ++component) {
    prefix /= *component;
    if (component->empty() || *component == "/" || *component == "." || *component == "..") {
      continue;
    }
    if (::mkdir(prefix.c_str(), static_cast<mode_t>(mode)) == 0) {
      // mkdir applies the umask; the mode asked for is meant exactly.
      if (::chmod(prefix.c_str(), static_cast<mode_t>(mode)) != 0) {
        throw errnoError(errno, prefix.native());
      }
      continue;
    }
    const int error = errno;
    struct stat facts {};
    if (error == EEXIST && ::stat(prefix.c_str(), &facts) == 0 && S_ISDIR(facts.st_mode)) continue;
    // A file in place of a parent: the next mkdir reports it as ENOTDIR with the full path.
    if (error == EEXIST && component != last) continue;
    throw errnoError(error, prefix.native());
  }
}

std::optional<RegularFile> RegularFile::open(const std::filesystem::path& path) {
  // O_NONBLOCK: opening a FIFO without a writer would otherwise wait for one.
  Descriptor fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  if (!fd.valid()) return std::nullopt;
  struct stat facts {};
  if (::fstat(fd.get(), &facts) != 0 || !S_ISREG(facts.st_mode)) return std::nullopt;
  // Reads of the file block as usual; only the open had to be safe.
  const int flags = ::fcntl(fd.get(), F_GETFL);
  if (flags >= 0) ::fcntl(fd.get(), F_SETFL, flags & ~O_NONBLOCK);
  return RegularFile(std::move(fd));
}

}  // namespace platform
