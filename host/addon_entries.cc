#include "host/addon_entries.h"

#include <chrono>
#include <cstdlib>
#include <system_error>

#include "exchange/constants.h"
#include "platform/core/directory.h"
#include "platform/core/files.h"
#include "platform/core/services_names.h"
#include "platform/core/uuid.h"

namespace host {
namespace {

namespace fs = std::filesystem;
constexpr unsigned kDirectoryMode = 0755;

std::string upper(std::string_view text) {
  std::string result(text);
  for (char& c : result) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return result;
}

void refuseLineBreaks(const fs::path& path) {
  if (path.native().find_first_of("\n\r") != std::string::npos) {
    throw FinderConversion::failure(std::string(kLineBreakSentence));
  }
}

// desktopExecWord quotes a word for a desktop entry's Exec: double quotes with `"`, "`", "$"
// and "\" escaped, then the key file's own escaping of "\" and "%%" for a literal "%".
std::string desktopExecWord(std::string_view text) {
  std::string exec = "\"";
  for (char c : text) {
    if (c == '"' || c == '`' || c == '$' || c == '\\') exec += '\\';
    exec += c;
  }
  exec += '"';
  std::string value;
  for (char c : exec) {
    if (c == '\\') value += '\\';
    if (c == '%') value += '%';
    value += c;
  }
  return value;
}

// writeFile replaces `target` atomically with `text` in `mode`, given before the rename: a
// script that appears without its executable bit would be no menu entry.
void writeFile(const fs::path& target, std::string_view text, fs::perms mode) {
  platform::createDirectories(target.parent_path(), kDirectoryMode);
  platform::stageFile(target, text, static_cast<unsigned>(mode)).commit();
}

constexpr fs::perms kExecutable = fs::perms::owner_all | fs::perms::group_read |
                                  fs::perms::group_exec | fs::perms::others_read |
                                  fs::perms::others_exec;
constexpr fs::perms kReadable =
    fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read | fs::perms::others_read;

// clientCopyPrefix: the start of the hidden name a copy of the client has until it is in place.
std::string clientCopyPrefix(const fs::path& target) {
  // Appended, not "." + string: GCC 12 -O2 sees a false -Wrestrict in that operator+.
  std::string prefix(1, '.');
  prefix += target.filename().string() + ".";
  return prefix;
}

// installClient copies the client beside its final place, then renames it in, so a running
// menu entry never executes a half-copied file.
void installClient(const fs::path& source, const fs::path& target) {
  platform::createDirectories(target.parent_path(), kDirectoryMode);
  const std::string hidden = clientCopyPrefix(target) + platform::Uuid::random().text();
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

std::string shellQuote(std::string_view text) {
  std::string quoted = "'";
  for (char c : text) {
    if (c == '\'') {
      quoted += "'\\''";
    } else {
      quoted += c;
    }
  }
  return quoted + "'";
}

std::string activationFileText(const fs::path& providerExecutable) {
  return "[D-BUS Service]\nName=" + std::string(platform::kAddOnPortName) +
         "\nExec=" + shellQuote(providerExecutable.native()) + "\n";
}

std::string nautilusScriptText(const fs::path& client, std::string_view format) {
  return "#!/bin/sh\n# Converts the selected files to " + upper(format) +
         " with Tonebrook.\nexec " + shellQuote(client.native()) + " --notify " +
         std::string(format) + " \"$@\"\n";
}

std::string serviceMenuText(const fs::path& client) {
  std::string actions;
  std::string sections;
  for (std::string_view format : FinderConversion::formats) {
    const std::string name = "convertTo" + upper(format);
    actions += name + ";";
    sections += "\n[Desktop Action " + name + "]\nName=Convert to " + upper(format) +
                "\nIcon=audio-x-generic\nExec=" + desktopExecWord(client.native()) + " --notify " +
                std::string(format) + " %U\n";
  }
  return "[Desktop Entry]\nType=Service\nMimeType=audio/*;\nX-KDE-ServiceTypes=KonqPopupMenu/"
         "Plugin\nX-KDE-Protocols=file\nX-KDE-Submenu=Convert with Tonebrook\nActions=" +
         actions + "\n" + sections;
}

void writeEntries(const EntryLocations& locations, const fs::path& providerExecutable,
                  const fs::path& clientSource) {
  refuseLineBreaks(providerExecutable);
  refuseLineBreaks(locations.client());
  installClient(clientSource, locations.client());
  writeFile(locations.activationFile(), activationFileText(providerExecutable), kReadable);
  for (std::string_view format : FinderConversion::formats) {
    writeFile(locations.nautilusScripts() / ("Convert to " + upper(format)),
              nautilusScriptText(locations.client(), format), kExecutable);
  }
  writeFile(locations.serviceMenu(), serviceMenuText(locations.client()), kExecutable);
}

void removeLeftovers(const EntryLocations& locations) {
  const fs::path client = locations.client();
  const std::string copy = clientCopyPrefix(client);
  std::error_code error;
  for (const auto& entry : fs::directory_iterator(client.parent_path(), error)) {
    const std::string name = entry.path().filename().string();
    if (name.starts_with(copy) && platform::Uuid::parse(name.substr(copy.size()))) {
      std::error_code ignored;
      fs::remove(entry.path(), ignored);
    }
  }
  const auto temporariesOf = [](const fs::path& directory, auto owned) {
    try {
      platform::removeStaleTemporaryFiles(directory, std::chrono::seconds(0), owned);
    } catch (const std::exception&) {  // NOLINT(bugprone-empty-catch): best effort
    }
  };
  const std::string activation = locations.activationFile().filename().string();
  temporariesOf(locations.activationFile().parent_path(),
                [&](std::string_view name) { return name == activation; });
  temporariesOf(locations.nautilusScripts(),
                [](std::string_view name) { return name.starts_with("Convert to "); });
  temporariesOf(locations.serviceMenu().parent_path(),
                [](std::string_view name) { return name == kServiceMenuName; });
}

}  // namespace host
