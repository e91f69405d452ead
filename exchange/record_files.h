#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>

#include "exchange/records.h"
#include "platform/core/directory.h"
#include "platform/core/files.h"

namespace FinderConversion {

inline constexpr std::uintmax_t kRecordSizeLimit = 2'000'000;
inline constexpr std::string_view kInvalidRecordSentence =
    "The add-on record is invalid or too large.";
inline constexpr std::string_view kLockUnopenableSentence = "The add-on lock cannot be opened.";
inline constexpr std::string_view kLockHeldSentence =
    "Another Tonebrook is changing the add-on. Try again shortly.";

// writeDocument replaces `location` atomically with `document`; creates no directory.
void writeDocument(std::string_view document, const std::filesystem::path& location,
                   platform::Durability durability = platform::Durability::flushed);

// write encodes `value` (a record or a plain text) and replaces `location` atomically.
template <typename T>
void write(const T& value, const std::filesystem::path& location) {
  writeDocument(encode(value), location);
}

// stage encodes `value` and writes it ahead for `location`, flushed, leaving `location` as it is:
// the returned entry's commit replaces it with one rename, so that the replacement can follow
// another step (a package swapped into place) with nothing in between. Creates no directory.
template <typename T>
[[nodiscard]] platform::Directory::StagedEntry stage(const T& value,
                                                     const std::filesystem::path& location) {
  return platform::stageFile(location, encode(value));
}

// readDocument: the bytes of a record file. A symbolic link, more than kRecordSizeLimit bytes
// (tested on the open descriptor) and a FIFO, socket or device are refused with
// failure(kInvalidRecordSentence) without being read; other failures pass unchanged (a missing
// file: ENOENT, a directory: EISDIR).
std::string readDocument(const std::filesystem::path& location);

// read<T>: readDocument, then decode<T>; a decoding error passes on unchanged.
template <typename T>
T read(const std::filesystem::path& location) {
  return decode<T>(readDocument(location));
}

// tryRead<T>: read<T> for a record that may be absent or broken: nullopt, never an error,
// when it is missing, a link, too large, not a regular file, unreadable or does not decode
// (a file another party is about to replace counts the same).
template <typename T>
std::optional<T> tryRead(const std::filesystem::path& location) noexcept {
  try {
    return read<T>(location);
  } catch (...) {
    return std::nullopt;
  }
}

// The same three for a record file in a directory opened once (the queue directories): the
// entry `name` of `directory`, never through a symbolic link at that name.
void writeDocument(std::string_view document, platform::Directory& directory, std::string_view name,
                   platform::Durability durability = platform::Durability::flushed);
std::string readDocument(const platform::Directory& directory, std::string_view name);

template <typename T>
void write(const T& value, platform::Directory& directory, std::string_view name) {
  writeDocument(encode(value), directory, name);
}

template <typename T>
T read(const platform::Directory& directory, std::string_view name) {
  return decode<T>(readDocument(directory, name));
}

template <typename T>
std::optional<T> tryRead(const platform::Directory& directory, std::string_view name) noexcept {
  try {
    return read<T>(directory, name);
  } catch (...) {
    return std::nullopt;
  }
}

// withLock runs `operation` under the lifecycle lock of `root`, held by a LifecycleLock (below)
// for the operation's whole run and released on every way out. The operation's own failure
// passes unchanged.
template <typename Operation>
auto withLock(const std::filesystem::path& root, Operation&& operation)
    -> std::invoke_result_t<Operation>;

// requests / acknowledgements: the queue directories of a state root (nothing is created).
std::filesystem::path requests(const std::filesystem::path& root);
std::filesystem::path acknowledgements(const std::filesystem::path& root);
// stateDirectory prepares the directory `name` directly in the state root `root` (the root and
// its parents as prepare does, then `name` itself with mode 0700) and opens it without following
// a symbolic link at `name`: a link there fails with the file system's error (ELOOP), so nothing
// is ever written outside the state root through one. Throws prepare's or the opening error.
platform::Directory stateDirectory(const std::filesystem::path& root, std::string_view name);
// existingStateDirectory opens the directory `name` of `root` the same way without creating
// anything: nullopt when it does not exist; a link there throws (ELOOP).
std::optional<platform::Directory> existingStateDirectory(const std::filesystem::path& root,
                                                          std::string_view name);

// fileName: the upper-case text of `id` followed by ".json".
std::string fileName(const Uuid& id);

// enqueue validates `request`, prepares both queue directories (stateDirectory) and writes the
// request file into "requests".
void enqueue(const Request& request, const std::filesystem::path& root);

// refuse answers the request `id` of `root` with a refusing acknowledgement: `id`, accepted
// false, `message`, no jobs, not terminal, no states or outputs; written atomically as
// fileName(id) in acknowledgements(root), which is prepared first (stateDirectory). Throws
// prepare's, the opening or the writing error.
void refuse(const std::filesystem::path& root, const Uuid& id, std::string message);

// LifecycleLock is the held lifecycle lock of a state root, from acquire until the object goes:
//   auto lock = LifecycleLock::acquire(root);
// acquire prepares `root`, opens "lifecycle.lock" close-on-exec without following a link (a
// regular file only, created 0600 when missing) and takes flock LOCK_EX|LOCK_NB. It never
// waits: contention throws failure(kLockHeldSentence) at once, also for a second acquire on the
// same root in the same process (a new open file description). A moved-from lock holds nothing.
class LifecycleLock {
 public:
  // acquire throws prepare's error, failure(kLockUnopenableSentence) or failure(kLockHeldSentence).
  [[nodiscard]] static LifecycleLock acquire(const std::filesystem::path& root);
  LifecycleLock(LifecycleLock&&) noexcept = default;
  ~LifecycleLock();  // unlock, then close

  // keepUntilExit leaves the lock held until the process ends: the system releases it only
  // when the process is gone, so that nobody who gets the lock still sees this process running.
  // The object holds nothing afterwards.
  void keepUntilExit() noexcept { file_.keepUntilExit(); }

 private:
  explicit LifecycleLock(platform::LockFile file) : file_(std::move(file)) {}
  platform::LockFile file_;
};

template <typename Operation>
auto withLock(const std::filesystem::path& root, Operation&& operation)
    -> std::invoke_result_t<Operation> {
  LifecycleLock lock = LifecycleLock::acquire(root);
  return std::forward<Operation>(operation)();
}

}  // namespace FinderConversion
