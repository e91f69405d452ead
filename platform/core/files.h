#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "platform/core/descriptor.h"

// The concrete file-system part of the platform: used by exchange/ and lifetime/, tested on
// real temporary directories. Every descriptor is opened close-on-exec. Failures are
// platform::Error values from errnoError unless said otherwise.
namespace platform {

enum class Durability {
  flushed,    // fsync the data before the rename and the directory after it
  unflushed,  // the same atomic replacement without flushes (frequent, disposable records)
};

// writeFileAtomically replaces `target` with `bytes`: a hidden temporary file beside the
// target (its name starts with "." and does not end in ".json") is written, optionally
// flushed, and renamed over the target. On failure the temporary file is removed and the
// old target is intact. Creates no directory.
void writeFileAtomically(const std::filesystem::path& target, std::string_view bytes,
                         Durability durability = Durability::flushed);

// RecordRead is the outcome of readRecordFile.
struct RecordRead {
  // notRegularFile: a FIFO, socket or device at the place; it is not read.
  enum class Status { ok, symbolicLink, tooLarge, notRegularFile };
  Status status = Status::ok;
  std::string bytes;  // the whole file when status is ok
};

// readRecordFile reads the record file at `path`. Its kind and size are tested on the entry
// itself first, without following a symbolic link there: a link answers symbolicLink, a FIFO,
// socket or device notRegularFile and a file of more than `limit` bytes tooLarge, none of them
// opened (so an oversized record is refused as such even when it could not be read). The file
// is then opened without following a link or blocking, tested again (it may have been replaced
// meanwhile) and read, at most `limit` bytes (a file that grows past `limit` while it is read is
// tooLarge). Other failures throw (a missing file: ENOENT with the path; a directory: EISDIR).
RecordRead readRecordFile(const std::filesystem::path& path, std::uintmax_t limit);

// removeStaleTemporaryFiles removes, directly in `directory`, the hidden temporary files that
// writeFileAtomically leaves when its writer is killed (".<name>.tmp-XXXXXX"), for the targets
// whose name `owned` accepts, when they are regular files last modified more than `age` ago.
// A missing directory and files that vanish meanwhile are no error; returns how many went.
std::size_t removeStaleTemporaryFiles(const std::filesystem::path& directory,
                                      std::chrono::seconds age,
                                      const std::function<bool(std::string_view)>& owned);

// FileIdentity is what stat reports about a file's identity.
struct FileIdentity {
  std::uint64_t device = 0;
  std::uint64_t inode = 0;
  bool operator==(const FileIdentity&) const = default;
};

// identity stats `path` following symbolic links; nullopt when stat fails.
std::optional<FileIdentity> identity(const std::filesystem::path& path);

// ItemKind is the kind of an item without following a final symbolic link.
enum class ItemKind { missing, regularFile, directory, symbolicLink, other };
// itemKind lstats `path`: missing for ENOENT, throws errnoError for other failures.
ItemKind itemKind(const std::filesystem::path& path);
// resolvedItemKind stats `path` following symbolic links: missing for ENOENT (a dangling link
// included), never symbolicLink; throws errnoError for other failures.
ItemKind resolvedItemKind(const std::filesystem::path& path);

// createDirectories creates `path` and its missing parents, each with exactly `mode`
// (umask does not apply); existing directories are left as they are. Throws errnoError.
void createDirectories(const std::filesystem::path& path, unsigned mode);

// LockFile is an open lock file: opened read-write, created with mode 0600 when missing,
// never through a symbolic link at its last component, close-on-exec, never truncated.
// The descriptor is closed (and so any lock released) when the object goes.
class Directory;

class LockFile {
 public:
  // open returns nullopt when the file cannot be opened (a link, a directory, no permission).
  static std::optional<LockFile> open(const std::filesystem::path& path);
  // openExisting opens an existing regular file read-only for locking, without creating it or
  // following a link at its last component; nullopt when that is not possible.
  static std::optional<LockFile> openExisting(const std::filesystem::path& path);

  LockFile(LockFile&& other) noexcept;
  LockFile& operator=(LockFile&& other) noexcept;
  LockFile(const LockFile&) = delete;
  LockFile& operator=(const LockFile&) = delete;
  ~LockFile();

  // tryLockExclusive: flock(LOCK_EX | LOCK_NB); false when not granted for any reason.
  [[nodiscard]] bool tryLockExclusive();
  void unlock();  // flock(LOCK_UN); errors dropped
  void close();   // closes the descriptor; idempotent
  // keepUntilExit gives up the descriptor without closing it: whatever lock it holds stays held
  // until the process ends, when the system closes it. The object holds nothing afterwards.
  void keepUntilExit() noexcept { fd_ = -1; }
  int descriptor() const noexcept { return fd_; }

 private:
  friend class Directory;  // opens lock files relative to itself
  explicit LockFile(int fd) : fd_(fd) {}
  int fd_ = -1;
};

// RegularFile is a regular file opened read-only, close-on-exec, following links. Opening never
// blocks, so a FIFO or device at the place is refused without hanging the caller. The
// descriptor is closed when the object goes.
class RegularFile {
 public:
  // open: nullopt when nothing readable is there or it is not a regular file.
  static std::optional<RegularFile> open(const std::filesystem::path& path);

  // descriptor, to pass to a child (SpawnOptions::passed).
  int descriptor() const noexcept { return fd_.get(); }

 private:
  explicit RegularFile(Descriptor fd) : fd_(std::move(fd)) {}
  Descriptor fd_;
};

// homeDirectory: $HOME when set and absolute, else the user database entry.
std::filesystem::path homeDirectory();
// homeDirectoryFor: the home directory by the same rule for a process of this user whose HOME
// is `homeVariable` (nullopt: not set).
std::filesystem::path homeDirectoryFor(std::optional<std::string_view> homeVariable);

// processId of the calling process.
std::int32_t processId();

// secondsSinceReferenceDate: wall-clock seconds since 2001-01-01 00:00:00 UTC, with fraction.
double secondsSinceReferenceDate();

}  // namespace platform
