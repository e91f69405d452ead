#pragma once

#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// The command line of the host bundle's programs: Contents/MacOS/Tonebrook serves the queue and
// hands the installer roles to Contents/Helpers/tonebrook-install, which runs them.
namespace host {

inline constexpr std::string_view kInstallAddOnOption = "--install-addon";
inline constexpr std::string_view kRetireProviderOption = "--retire-provider";
// kInstallerUsage: the usage of the installer roles, after "usage: " or its indent.
inline constexpr const char* kInstallerUsage =
    "Tonebrook --install-addon [PACKAGE]\n"
    "       Tonebrook --retire-provider\n";

// The help both programs print on standard output for "--help" or "-h" (exit status 0): the
// usage lines, then a line for every option. The host prints all of it; the installer program
// its own roles.
inline constexpr const char* kHelpUsage = "       Tonebrook --help\n";
inline constexpr const char* kHostIntroduction =
    "\n"
    "The Tonebrook host application: converts the files that the Tonebrook Quick Conversion\n"
    "add-on queues, and installs that add-on for the user of $HOME.\n";
inline constexpr const char* kFinderServiceHelp =
    "\n"
    "  --finder-service     serve the conversion queue of the user's state root\n"
    "                       (~/Library/Application Support/Tonebrook/FinderConversion):\n"
    "                       answer each request and convert its files with ffmpeg, each\n"
    "                       output beside its input and never over an existing file; leave\n"
    "                       once idle for 2 seconds\n"
    "  --verify-finder-inbox STATE-ROOT\n"
    "                       with --finder-service: serve STATE-ROOT instead, and first leave\n"
    "                       packaged-inbox.json there\n";
inline constexpr const char* kInstallerHelp =
    "  --install-addon [PACKAGE]\n"
    "                       install the add-on PACKAGE for the user of $HOME (default: the\n"
    "                       \"Tonebrook Quick Conversion.service\" beside this Tonebrook.app),\n"
    "                       bound to this copy of Tonebrook, with the tonebrook-services client\n"
    "                       and the file-manager and bus entries that run it\n"
    "  --retire-provider    ask the running conversion provider to quit, and wait for it\n";
inline constexpr const char* kHelpOptionHelp = "  -h, --help           show this help and exit\n";

// asksForHelp: arguments[1] (after the program path) is "--help" or "-h".
bool asksForHelp(const std::vector<std::string>& arguments);

// helperOfHost: the program `name` in a host bundle's Contents/Helpers, where the bundle keeps
// the programs that must not count as the running host (every process running a program in
// Contents/MacOS does).
inline std::filesystem::path helperOfHost(const std::filesystem::path& hostBundle,
                                          std::string_view name) {
  return hostBundle / "Contents" / "Helpers" / name;
}
inline constexpr std::string_view kInstallerProgram = "tonebrook-install";
inline constexpr std::string_view kNotifierProgram = "tonebrook-notify";

// Role is one command-line role: its option, and what runs it with the arguments after it.
struct Role {
  std::string_view option;
  int (*run)(const std::vector<std::string>& arguments);
};

// runRole runs the role that arguments[1] names and returns its exit status; an exception it
// throws is printed as "Tonebrook: <what>" and gives 1. Nullopt when no role matches.
std::optional<int> runRole(std::span<const Role> roles, const std::vector<std::string>& arguments);

}  // namespace host
