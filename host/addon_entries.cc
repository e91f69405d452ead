#include "host/addon_entries.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <system_error>

#include "exchange/constants.h"
#include "platform/core/directory.h"
#include "platform/core/error.h"
#include "platform/core/files.h"
#include "platform/core/services_names.h"

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

constexpr unsigned kExecutable = 0755;
constexpr unsigned kReadable = 0644;

// entryFolder: the folder of `target`, created when missing, reached from `base` (the user's data
// or bin directory, theirs to place anywhere) without following a link below it: one planted
// there would take the entry, or the program it names, wherever it leads.
platform::Directory entryFolder(const fs::path& base, const fs::path& target) {
  platform::createDirectories(base, kDirectoryMode);
  return platform::Directory::prepareBelow(base, target.parent_path().lexically_relative(base),
                                           kDirectoryMode);
}

// writeFile replaces the entry `name` of `folder` atomically with `text` and `mode`.
void writeFile(platform::Directory& folder, std::string_view name, std::string_view text,
               unsigned mode) {
  folder.writeAtomically(name, text, platform::Durability::flushed, mode);
}

// readClient: the bytes of the client program to install, a regular file.
std::string readClient(const fs::path& source) {
  constexpr std::uintmax_t kLargestClient = std::uintmax_t{64} * 1024 * 1024;
  platform::RecordRead read = platform::readRecordFile(source, kLargestClient);
  if (read.status != platform::RecordRead::Status::ok) {
    throw platform::errnoError(EINVAL, source.native());
  }
  return std::move(read.bytes);
}

// replaceableApplicationEntry: nothing is at `name` in `folder`, or a regular file this installer
// wrote (it carries the mark). An entry the user made under that name is theirs to keep.
bool replaceableApplicationEntry(const platform::Directory& folder, std::string_view name) {
  constexpr std::uintmax_t kLargestEntry = std::uintmax_t{64} * 1024;
  try {
    const platform::RecordRead existing = folder.readRecord(name, kLargestEntry);
    return existing.status == platform::RecordRead::Status::ok &&
           existing.bytes.find("\n" + std::string(kApplicationEntryMark) + "\n") !=
               std::string::npos;
  } catch (const platform::Error& error) {
    if (error.domain() == platform::kPosixDomain && error.code() == ENOENT) return true;
    throw;
  }
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
  return dataHome / "applications" / (std::string(platform::kDesktopEntryName) + ".desktop");
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
  const fs::path& data = locations.dataHome;
  // Every folder is reached before anything is written: a link in any of them changes nothing.
  platform::Directory bin = entryFolder(locations.binDirectory, locations.client());
  platform::Directory activation = entryFolder(data, locations.activationFile());
  platform::Directory scripts = entryFolder(data, locations.nautilusScripts() / "script");
  platform::Directory menus = entryFolder(data, locations.serviceMenu());
  const fs::path entry = locations.applicationEntry();
  platform::Directory applications = entryFolder(data, entry);

  // Written whole under a hidden name and renamed in: a menu entry never runs half a client.
  writeFile(bin, kClientName, readClient(clientSource), kExecutable);
  writeFile(activation, locations.activationFile().filename().native(),
            activationFileText(providerExecutable), kReadable);
  for (std::string_view format : FinderConversion::formats) {
    writeFile(scripts, nautilusScriptName(format), nautilusScriptText(locations.client(), format),
              kExecutable);
  }
  writeFile(menus, kServiceMenuName, serviceMenuText(locations.client()), kExecutable);
  // The application entry only names the host in notifications: a host kept where no entry
  // can name it goes without one rather than failing the install.
  if (pathFault(hostExecutable.native()) == PathFault::none &&
      replaceableApplicationEntry(applications, entry.filename().native())) {
    writeFile(applications, entry.filename().native(), applicationEntryText(hostExecutable),
              kReadable);
  }
}

void removeLeftovers(const EntryLocations& locations) {
  const fs::path& data = locations.dataHome;
  // Each folder as the install reaches it: never through a link (the install then fails on it).
  const auto temporariesOf = [](const fs::path& base, const fs::path& target, auto owned) {
    try {
      entryFolder(base, target).removeStaleTemporaryFiles(std::chrono::seconds(0), owned);
    } catch (const std::exception&) {  // NOLINT(bugprone-empty-catch): best effort
    }
  };
  temporariesOf(locations.binDirectory, locations.client(),
                [](std::string_view name) { return name == kClientName; });
  const std::string activation = locations.activationFile().filename().string();
  temporariesOf(data, locations.activationFile(),
                [&](std::string_view name) { return name == activation; });
  temporariesOf(data, locations.nautilusScripts() / "script", [](std::string_view name) {
    return std::any_of(FinderConversion::formats.begin(), FinderConversion::formats.end(),
                       [&](std::string_view format) { return name == nautilusScriptName(format); });
  });
  temporariesOf(data, locations.serviceMenu(),
                [](std::string_view name) { return name == kServiceMenuName; });
  const std::string entry = locations.applicationEntry().filename().string();
  temporariesOf(data, locations.applicationEntry(),
                [&](std::string_view name) { return name == entry; });
}

}  // namespace host
