#pragma once

#include <filesystem>
#include <string>
#include <string_view>

// The texts of the entry files the installer writes, each quoted the way its reader parses it:
// sh for the Nautilus scripts, the bus daemon's key file and shell-like Exec parser for the
// activation file, the Desktop Entry rules (key file escapes, then Exec quoting with "%%") for
// the Dolphin service menu and the application entry.
namespace host {

// kApplicationEntryMark: the line that tells an application entry this installer wrote from
// one the user made; only the former is ever replaced.
inline constexpr std::string_view kApplicationEntryMark = "X-Tonebrook-Installed=true";

// PathFault: why a path cannot be named in an entry file. Entry files are lines of UTF-8 text,
// and the bus daemon ignores an activation file that is not UTF-8 as a whole.
enum class PathFault { none, lineBreak, notUtf8 };
PathFault pathFault(std::string_view path);

// shellQuote: one single-quoted word for sh.
std::string shellQuote(std::string_view text);

// activationFileText names the installed provider executable as the bus's Exec: one word in
// double quotes, escaped for the daemon's shell-like parser and then for its key file.
std::string activationFileText(const std::filesystem::path& providerExecutable);
// nautilusScriptName: the script's file name, which Nautilus shows as its menu item: the same
// words as the Dolphin action's ("Convert to MP3").
std::string nautilusScriptName(std::string_view format);
// nautilusScriptText runs the client on the selection: the exact URIs Nautilus lists in
// NAUTILUS_SCRIPT_SELECTED_URIS when every one is a file URI, else the arguments ("$@"),
// always after "--".
std::string nautilusScriptText(const std::filesystem::path& client, std::string_view format);
// serviceMenuText: one action per format, for local audio files, files as %U after "--".
std::string serviceMenuText(const std::filesystem::path& client);
// applicationEntryText: the host's application entry, kept out of menus; it starts the host's
// converter role, which serves what is queued and ends.
std::string applicationEntryText(const std::filesystem::path& hostExecutable);

}  // namespace host
