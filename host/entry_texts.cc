#include "host/entry_texts.h"

#include "exchange/constants.h"
#include "platform/core/services_names.h"
#include "platform/core/unicode.h"

namespace host {
namespace {

namespace fs = std::filesystem;

// keyFileValue escapes a value for a key file, read by the bus daemon and by desktop entry
// parsers alike: "\" doubled (the daemon ignores the whole file at an escape it does not know,
// such as "\'"), a tab as "\t".
std::string keyFileValue(std::string_view text) {
  std::string value;
  value.reserve(text.size());
  for (char c : text) {
    if (c == '\\') {
      value += "\\\\";
    } else if (c == '\t') {
      value += "\\t";
    } else {
      value += c;
    }
  }
  return value;
}

// Percent: whether "%" must be written "%%", as desktop entries' field codes require; the bus
// daemon has no field codes.
enum class Percent { literal, doubled };

// execWord: one double-quoted Exec word with `"`, "`", "$" and "\" escaped by a backslash,
// which both the bus daemon's parser and the Desktop Entry rules read back as the bare
// character (single quotes would do for the daemon, but desktop entries have none).
std::string execWord(std::string_view text, Percent percent) {
  std::string word = "\"";
  for (char c : text) {
    if (c == '"' || c == '`' || c == '$' || c == '\\') word += '\\';
    if (c == '%' && percent == Percent::doubled) word += '%';
    word += c;
  }
  return word + "\"";
}

std::string desktopExec(const fs::path& program, std::string_view arguments) {
  return keyFileValue(execWord(program.native(), Percent::doubled)) + " " + std::string(arguments);
}

}  // namespace

PathFault pathFault(std::string_view path) {
  if (path.find_first_of("\n\r") != std::string_view::npos) return PathFault::lineBreak;
  if (platform::validUtf8(path) != path) return PathFault::notUtf8;
  return PathFault::none;
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
         "\nExec=" + keyFileValue(execWord(providerExecutable.native(), Percent::literal)) + "\n";
}

std::string nautilusScriptName(std::string_view format) {
  return "Convert to " + platform::asciiUpperCase(format);
}

// The URI list wins because Nautilus builds the arguments through a launcher that expands
// desktop field codes: "100% x.wav" arrives as "100x.wav". URIs hold no line break (they are
// percent-encoded), so the list splits at line breaks only, with globbing off. A selection
// with a remote file keeps the arguments, where Nautilus gives such files a local path when
// it has one.
std::string nautilusScriptText(const fs::path& client, std::string_view format) {
  return "#!/bin/sh\n# Converts the selected files to " + platform::asciiUpperCase(format) +
         " with Tonebrook.\n"
         "# Nautilus lists the selection exactly in NAUTILUS_SCRIPT_SELECTED_URIS, one URI a\n"
         "# line; its arguments lose \"%\" and the character after it. The URIs are taken when\n"
         "# every one is a local file's, else the arguments; each file stays one argument.\n"
         "set -f\n"
         "if [ -n \"${NAUTILUS_SCRIPT_SELECTED_URIS-}\" ]; then\n"
         "  IFS='\n'\n"
         "  all_local=yes\n"
         "  for uri in $NAUTILUS_SCRIPT_SELECTED_URIS; do\n"
         "    case $uri in\n"
         "      file:*) ;;\n"
         "      *) all_local=no ;;\n"
         "    esac\n"
         "  done\n"
         "  if [ \"$all_local\" = yes ]; then set -- $NAUTILUS_SCRIPT_SELECTED_URIS; fi\n"
         "fi\n"
         "exec " +
         shellQuote(client.native()) + " --notify " + std::string(format) + " -- \"$@\"\n";
}

std::string serviceMenuText(const fs::path& client) {
  std::string actions;
  std::string sections;
  for (std::string_view format : FinderConversion::formats) {
    const std::string name = "convertTo" + platform::asciiUpperCase(format);
    actions += name + ";";
    sections += "\n[Desktop Action " + name + "]\nName=" + nautilusScriptName(format) +
                "\nIcon=audio-x-generic\nExec=" +
                desktopExec(client, "--notify " + std::string(format) + " -- %U") + "\n";
  }
  // Type=Application (KIO reads either type) so that the entry is valid by the Desktop Entry
  // rules, which allow MimeType and Actions in applications only; an application needs an
  // Exec, and this one is never run: Dolphin runs the actions.
  const std::string title = "Convert with Tonebrook";
  return "[Desktop Entry]\nType=Application\nName=" + title +
         "\nExec=true\nMimeType=audio/*;\nX-KDE-ServiceTypes=KonqPopupMenu/Plugin\n"
         "X-KDE-Protocols=file\nX-KDE-Submenu=" +
         title + "\nActions=" + actions + "\n" + sections;
}

std::string applicationEntryText(const fs::path& hostExecutable) {
  return "[Desktop Entry]\nType=Application\nName=Tonebrook\n"
         "Comment=Converts the audio files chosen in the file manager\n"
         "Icon=audio-x-generic\nTryExec=" +
         keyFileValue(hostExecutable.native()) +
         "\nExec=" + desktopExec(hostExecutable, FinderConversion::kFinderServiceOption) +
         "\nNoDisplay=true\nTerminal=false\nStartupNotify=false\n" +
         std::string(kApplicationEntryMark) + "\n";
}

}  // namespace host
