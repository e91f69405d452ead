#pragma once

#include <string>
#include <string_view>
#include <vector>

// The help of `tonebrook-services`, printed on standard output for "--help" or "-h" (exit
// status 0): the usage lines, what the program does, and a line for every option.
namespace services {

inline constexpr std::string_view kClientHelp =
    "usage: tonebrook-services [--notify] USERDATA [--] FILE...\n"
    "       tonebrook-services --help\n"
    "\n"
    "Sends FILEs to the Tonebrook conversion service, as the desktop's Services menu would,\n"
    "to be converted to USERDATA, the output format: wav, mp3, aac, flac or ogg. Tonebrook\n"
    "writes each output beside its FILE. Exits 0 once Tonebrook has accepted the files, else\n"
    "prints one sentence on standard error and exits 1.\n"
    "\n"
    "  --notify     also show the outcome as a desktop notification (or, without a\n"
    "               notification server, a zenity or kdialog message)\n"
    "  -h, --help   show this help and exit\n"
    "  --           end of the options: every word after it is a FILE, even one\n"
    "               that starts with \"-\"\n"
    "  FILE         1 to 16 files, each a path (absolute or relative to the current\n"
    "               directory) or a file: URI\n";

// asksForHelp: the first argument after the program path is "--help" or "-h".
inline bool asksForHelp(const std::vector<std::string>& arguments) {
  return !arguments.empty() && (arguments.front() == "--help" || arguments.front() == "-h");
}

}  // namespace services
