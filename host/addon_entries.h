#pragma once

#include <filesystem>
#include <string>
#include <string_view>

#include "host/entry_texts.h"

// The desktop's ways into the add-on: the bus activation file that starts the provider on the
// first Services call, the file-manager entries that run the Services client, one per format,
// and the host's application entry that desktop notifications are attributed to. All of them
// are plain files under the user's data directory.
namespace host {

inline constexpr std::string_view kClientName = "tonebrook-services";
inline constexpr std::string_view kServiceMenuName = "tonebrook-convert.desktop";
inline constexpr std::string_view kLineBreakSentence =
    "The add-on cannot be installed in a folder whose name holds a line break.";
inline constexpr std::string_view kNotUtf8Sentence =
    "The add-on cannot be installed in a folder whose name is not valid UTF-8.";

// EntryLocations: where the entries go, from $XDG_DATA_HOME (when absolute) or
// <home>/.local/share, and <home>/.local/bin for the client.
struct EntryLocations {
  std::filesystem::path dataHome;
  std::filesystem::path binDirectory;

  std::filesystem::path activationFile() const;    // dbus-1/services/<port name>.service
  std::filesystem::path nautilusScripts() const;   // nautilus/scripts/Tonebrook
  std::filesystem::path serviceMenu() const;       // kio/servicemenus/tonebrook-convert.desktop
  std::filesystem::path applicationEntry() const;  // applications/tonebrook.desktop
  std::filesystem::path client() const;            // <bin>/tonebrook-services
};
EntryLocations entryLocations();

// writeEntries installs `clientSource` as the client and writes every entry, each atomically.
// The application entry is written only where no file is in its place or the one there carries
// kApplicationEntryMark, and only when `hostExecutable` can be named in it (valid UTF-8, no
// line break). Throws the file system's error, or failure(kLineBreakSentence) /
// failure(kNotUtf8Sentence) when the provider's or the client's path cannot be named in the
// entries; nothing is written then.
void writeEntries(const EntryLocations& locations, const std::filesystem::path& providerExecutable,
                  const std::filesystem::path& clientSource,
                  const std::filesystem::path& hostExecutable);

// removeLeftovers removes the temporary files of the client and of the
// entries that a killed writeEntries left behind, whatever their age: call it only where no
// other installer can be writing (under the lifecycle lock). Failures are dropped.
void removeLeftovers(const EntryLocations& locations);

}  // namespace host
