#pragma once

#include <filesystem>
#include <string>
#include <string_view>

// The desktop's ways into the add-on: the bus activation file that starts the provider on the
// first Services call, and the file-manager entries that run the Services client, one per
// format. All of them are plain files under the user's data directory.
namespace host {

inline constexpr std::string_view kClientName = "tonebrook-services";
inline constexpr std::string_view kServiceMenuName = "tonebrook-convert.desktop";
inline constexpr std::string_view kLineBreakSentence =
    "The add-on cannot be installed in a folder whose name holds a line break.";

// EntryLocations: where the entries go, from $XDG_DATA_HOME (when absolute) or
// <home>/.local/share, and <home>/.local/bin for the client.
struct EntryLocations {
  std::filesystem::path dataHome;
  std::filesystem::path binDirectory;

  std::filesystem::path activationFile() const;   // dbus-1/services/<port name>.service
  std::filesystem::path nautilusScripts() const;  // nautilus/scripts/Tonebrook
  std::filesystem::path serviceMenu() const;      // kio/servicemenus/tonebrook-convert.desktop
  std::filesystem::path client() const;           // <bin>/tonebrook-services
};
EntryLocations entryLocations();

// shellQuote: one single-quoted word for sh and for the bus's Exec parser.
std::string shellQuote(std::string_view text);

// activationFileText names the installed provider executable as the bus's Exec.
std::string activationFileText(const std::filesystem::path& providerExecutable);
// nautilusScriptText passes the selected files on as an argument list ("$@").
std::string nautilusScriptText(const std::filesystem::path& client, std::string_view format);
// serviceMenuText: one action per format, for local audio files, files as %U.
std::string serviceMenuText(const std::filesystem::path& client);

// writeEntries installs `clientSource` as the client and writes every entry, each atomically
// and with its final mode already. Throws the file system's error, or
// failure(kLineBreakSentence) for a path with a line break.
void writeEntries(const EntryLocations& locations, const std::filesystem::path& providerExecutable,
                  const std::filesystem::path& clientSource);

// removeLeftovers removes the hidden copies of the client and the temporary files of the
// entries that a killed writeEntries left behind, whatever their age: call it only where no
// other installer can be writing (under the lifecycle lock). Failures are dropped.
void removeLeftovers(const EntryLocations& locations);

}  // namespace host
