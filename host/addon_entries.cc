#include "host/addon_entries.h"

#include <cstdlib>

#include "exchange/constants.h"
#include "platform/core/files.h"
#include "platform/core/services_names.h"
#include "platform/core/uuid.h"

namespace host {
namespace {

namespace fs = std::filesystem;
constexpr unsigned kDirectoryMode = 0755;

// refuseUnnameable: a path the entries cannot name makes the install fail before anything is
// written, rather than leave entries that the bus or the file managers cannot read.
void refuseUnnameable(const fs::path& path) {
  switch (pathFault(path.native())) {
    case PathFault::lineBreak:
      throw FinderConversion::failure(std::string(kLineBreakSentence));
    case PathFault::notUtf8:
      throw FinderConversion::failure(std::string(kNotUtf8Sentence));
    case PathFault::none:
      return;
  }
}

// writeFile replaces `target` atomically with `text`, then gives it `mode`.
void writeFile(const fs::path& target, std::string_view text, fs::perms mode) {
  platform::createDirectories(target.parent_path(), kDirectoryMode);
  platform::writeFileAtomically(target, text);
  fs::permissions(target, mode);
}

constexpr fs::perms kExecutable = fs::perms::owner_all | fs::perms::group_read |
                                  fs::perms::group_exec | fs::perms::others_read |
                                  fs::perms::others_exec;
constexpr fs::perms kReadable =
    fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read | fs::perms::others_read;

// installClient copies the client beside its final place, then renames it in, so a running
// menu entry never executes a half-copied file.
void installClient(const fs::path& source, const fs::path& target) {
  platform::createDirectories(target.parent_path(), kDirectoryMode);
  // Appended, not "." + string: GCC 12 -O2 sees a false -Wrestrict in that operator+.
  std::string hidden(1, '.');
  hidden += target.filename().string() + "." + platform::Uuid::random().text();
  const fs::path staging = target.parent_path() / hidden;
  try {
    fs::copy_file(source, staging);
    fs::permissions(staging, kExecutable);
    fs::rename(staging, target);
  } catch (...) {
    std::error_code ignored;
    fs::remove(staging, ignored);
    throw;
  }
}

// replaceableApplicationEntry: nothing is at `target`, or a regular file this installer wrote
// (it carries the mark). An entry the user made under that name is theirs to keep.
bool replaceableApplicationEntry(const fs::path& target) {
  if (platform::itemKind(target) == platform::ItemKind::missing) return true;
  constexpr std::uintmax_t kLargestEntry = std::uintmax_t{64} * 1024;
  const platform::RecordRead existing = platform::readRecordFile(target, kLargestEntry);
  return existing.status == platform::RecordRead::Status::ok &&
         existing.bytes.find("\n" + std::string(kApplicationEntryMark) + "\n") != std::string::npos;
}

}  // namespace

fs::path EntryLocations::activationFile() const {
  return dataHome / "dbus-1" / "services" / (std::string(platform::kAddOnPortName) + ".service");
}
fs::path EntryLocations::nautilusScripts() const {
  return dataHome / "nautilus" / "scripts" / "Tonebrook";
}
fs::path EntryLocations::serviceMenu() const {
  return dataHome / "kio" / "servicemenus" / kServiceMenuName;
}
fs::path EntryLocations::applicationEntry() const {
  return dataHome / "applications" / (std::string(kApplicationEntryId) + ".desktop");
}
fs::path EntryLocations::client() const {
  return binDirectory / kClientName;
}

EntryLocations entryLocations() {
  const fs::path home = platform::homeDirectory();
  const char* dataHome = std::getenv("XDG_DATA_HOME");
  const bool usable = dataHome != nullptr && fs::path(dataHome).is_absolute();
  return {.dataHome = usable ? fs::path(dataHome) : home / ".local" / "share",
          .binDirectory = home / ".local" / "bin"};
}

void writeEntries(const EntryLocations& locations, const fs::path& providerExecutable,
                  const fs::path& clientSource, const fs::path& hostExecutable) {
  refuseUnnameable(providerExecutable);
  refuseUnnameable(locations.client());
  installClient(clientSource, locations.client());
  writeFile(locations.activationFile(), activationFileText(providerExecutable), kReadable);
  for (std::string_view format : FinderConversion::formats) {
    writeFile(locations.nautilusScripts() / nautilusScriptName(format),
              nautilusScriptText(locations.client(), format), kExecutable);
  }
  writeFile(locations.serviceMenu(), serviceMenuText(locations.client()), kExecutable);
  // The application entry only names the host in notifications: a host kept where no entry
  // can name it goes without one rather than failing the install.
  if (pathFault(hostExecutable.native()) == PathFault::none &&
      replaceableApplicationEntry(locations.applicationEntry())) {
    writeFile(locations.applicationEntry(), applicationEntryText(hostExecutable), kReadable);
  }
}

}  // namespace host
