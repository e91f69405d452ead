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
#include "platform/core/directory.h"
#include "platform/core/error.h"

namespace platform {
namespace {

std::filesystem::path directoryOf(const std::filesystem::path& target) {
  std::filesystem::path directory = target.parent_path();
  return directory.empty() ? std::filesystem::path(".") : directory;
}

}  // namespace

// The path forms work in the target's directory as it is reached through `target` (a link on
// the way is the caller's); what they do inside it is Directory's.
void writeFileAtomically(const std::filesystem::path& target, std::string_view bytes,
                         Durability durability) {
  Directory::open(directoryOf(target), Directory::Link::follow)
      .writeAtomically(target.filename().native(), bytes, durability);
}

Directory::StagedEntry stageFile(const std::filesystem::path& target, std::string_view bytes,
                                 unsigned mode) {
  return Directory::open(directoryOf(target), Directory::Link::follow)
      .stage(target.filename().native(), bytes, Durability::flushed, mode);
}

std::size_t removeStaleTemporaryFiles(const std::filesystem::path& directory,
                                      std::chrono::seconds age,
                                      const std::function<bool(std::string_view)>& owned) {
  std::optional<Directory> opened = Directory::openIfPresent(directory, Directory::Link::follow);
  return opened ? opened->removeStaleTemporaryFiles(age, owned) : 0;
}

RecordRead readRecordFile(const std::filesystem::path& path, std::uintmax_t limit) {
  return Directory::open(directoryOf(path), Directory::Link::follow)
      .readRecord(path.filename().native(), limit);
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
