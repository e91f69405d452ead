#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/core/descriptor.h"
#include "platform/core/files.h"

namespace platform {

// Directory is a directory opened once and then worked in by entry name: every operation names
// an entry directly inside it (a name, never a path) and none follows a symbolic link at that
// name. What is written or read therefore stays in the directory that was opened, even when a
// link is planted in its place or beside its entries later. Failures are errnoError values that
// name the entry's path. The descriptor is closed when the object goes.
class Directory {
 public:
  // Link says whether a symbolic link at the directory's own path may lead to it.
  enum class Link { follow, refuse };

  // open opens the directory at `path`. With Link::refuse a symbolic link there fails with ELOOP
  // (and anything that is not a directory with ENOTDIR); a missing one fails with ENOENT.
  static Directory open(const std::filesystem::path& path, Link link = Link::refuse);
  // openIfPresent is open that answers nullopt when nothing is at `path`.
  static std::optional<Directory> openIfPresent(const std::filesystem::path& path,
                                                Link link = Link::refuse);
  // prepare creates `path` and its missing parents with exactly `mode`, as createDirectories
  // does (links among the parents are followed: they are the caller's), and opens it without
  // following a link at its own name (ELOOP).
  static Directory prepare(const std::filesystem::path& path, unsigned mode);
  // prepareBelow opens `base` (following links: it is the caller's, like a home directory), then
  // each component of `relative` in turn, creating the missing ones with exactly `mode`, and
  // never follows a link at any of them (ELOOP naming it): what is written below `base` then
  // stays in folders that really lie there. `relative` must not hold "..".
  static Directory prepareBelow(const std::filesystem::path& base,
                                const std::filesystem::path& relative, unsigned mode);

  const std::filesystem::path& path() const noexcept { return path_; }

  // writeAtomically replaces the entry `name` with `bytes`, like writeFileAtomically: a hidden
  // temporary entry (".<name>.tmp-XXXXXX", mode 0600) is written, optionally flushed, and
  // renamed over `name` with `mode`; a link at `name` is replaced, not followed. On failure the
  // temporary entry is removed and the old one is intact. The same as stage(...).commit().
  void writeAtomically(std::string_view name, std::string_view bytes,
                       Durability durability = Durability::flushed, unsigned mode = 0600);

  // StagedEntry is a replacement of one entry prepared ahead: its bytes are already in the
  // hidden temporary entry beside it (written, and flushed when staged so), so that putting
  // them in place later is one rename. Until commit the entry is untouched. An uncommitted
  // StagedEntry removes its temporary entry when it goes; one left by a killed process is for
  // removeStaleTemporaryFiles. It keeps the directory open on a descriptor of its own.
  class StagedEntry {
   public:
    StagedEntry(StagedEntry&&) noexcept = default;
    StagedEntry& operator=(StagedEntry&&) = delete;
    StagedEntry(const StagedEntry&) = delete;
    StagedEntry& operator=(const StagedEntry&) = delete;
    ~StagedEntry();

    // commit renames the temporary entry over the target (a link there is replaced, not
    // followed), then flushes the directory when staged flushed. Throws errnoError naming the
    // target; it is then as it was. Committing twice is an error (EINVAL).
    void commit();

   private:
    friend class Directory;
    StagedEntry(Descriptor directory, std::string temporary, std::string target,
                std::filesystem::path directoryPath, Durability durability)
        : directory_(std::move(directory)),
          temporary_(std::move(temporary)),
          target_(std::move(target)),
          directoryPath_(std::move(directoryPath)),
          durability_(durability) {}

    Descriptor directory_;
    std::string temporary_;
    std::string target_;
    std::filesystem::path directoryPath_;
    Durability durability_;
    bool committed_ = false;
  };
  // stage writes `bytes` for the entry `name` into its hidden temporary entry as writeAtomically
  // does, without touching `name`, and gives it exactly `mode` (umask aside), so that the entry
  // never appears with another. Throws errnoError; nothing is left then.
  [[nodiscard]] StagedEntry stage(std::string_view name, std::string_view bytes,
                                  Durability durability = Durability::flushed,
                                  unsigned mode = 0600);
  // readRecord is readRecordFile for the entry `name`.
  RecordRead readRecord(std::string_view name, std::uintmax_t limit) const;
  // lockExisting opens the existing regular file `name` for locking (LockFile::openExisting).
  std::optional<LockFile> lockExisting(std::string_view name) const;

  // renameWithoutReplacing renames `from` to `to` inside this directory; false when `to` exists
  // (nothing moved). Other failures throw.
  bool renameWithoutReplacing(std::string_view from, std::string_view to);
  // moveWithoutReplacing moves `from` into `destination` as `to`, never replacing anything
  // there (EEXIST naming the destination). Both directories must be on one file system.
  void moveWithoutReplacing(std::string_view from, const Directory& destination,
                            std::string_view to);
  // remove unlinks the entry `name` (not a directory); false when it was already gone.
  bool remove(std::string_view name);

  // Entry is one entry as listed: its name, kind (a link is a link) and modification time.
  struct Entry {
    std::string name;
    ItemKind kind = ItemKind::other;
    std::filesystem::file_time_type modified;
  };
  // entries lists the directory without "." and "..". Entries that vanish while it lists are
  // left out.
  std::vector<Entry> entries() const;

  // removeStaleTemporaryFiles removes the hidden temporary entries that writeAtomically leaves
  // when its writer is killed (".<name>.tmp-XXXXXX"), for the targets whose name `owned`
  // accepts, when they are regular files last modified more than `age` ago. Returns how many
  // went.
  std::size_t removeStaleTemporaryFiles(std::chrono::seconds age,
                                        const std::function<bool(std::string_view)>& owned);

  // descriptor, for platform code that works with the opened directory itself (a watch).
  int descriptor() const noexcept { return fd_.get(); }

 private:
  Directory(Descriptor fd, std::filesystem::path path)
      : fd_(std::move(fd)), path_(std::move(path)) {}
  std::string pathOf(std::string_view name) const;

  Descriptor fd_;
  std::filesystem::path path_;
};

// stageFile is Directory::stage for `target`, in its directory as reached through the path (a
// link on the way is the caller's): the bytes are written and flushed now; the returned entry's
// commit puts them in place with one rename. Creates no directory.
[[nodiscard]] Directory::StagedEntry stageFile(const std::filesystem::path& target,
                                               std::string_view bytes, unsigned mode = 0600);

}  // namespace platform
