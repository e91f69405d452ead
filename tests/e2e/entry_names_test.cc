// The installed file-manager entries run as Nautilus and Dolphin run them, on file names that
// some quoting on the way treats specially, under a home whose path does too: every file that
// reaches the client intact gets its MP3 beside it, and nothing in a name is ever run.
#include <algorithm>
#include <cstdio>
#include <set>

#include "platform/core/unicode.h"
#include "support/desktop_entry.h"
#include "support/test_support.h"
#include "tests/e2e/e2e_fixture.h"

namespace e2e {
namespace {

using test_support::readText;

struct Name {
  const char* label;
  std::string file;
};
const Name kNames[] = {
    {"spaces", "a  b c.wav"},
    {"percent and space", "100% x.wav"},
    {"hash", "#1 take.wav"},
    {"question mark", "why?.wav"},
    {"single quote", "it's.wav"},
    {"double quotes", "say \"hi\".wav"},
    {"command substitution", "$(touch pwned).wav"},
    {"backticks", "`touch pwned`.wav"},
    {"leading dash", "-n.wav"},
    {"glob", "*.wav"},
    {"non-ASCII", "Caf\u00e9 \u00d1.wav"},
    {"not UTF-8", "caf\xe9.wav"},
};

// glibFileUri: the URI GLib (and so Nautilus) gives a local file: every byte percent-encoded
// but letters, digits, "/" and -._~!$&'()*+,:=@
std::string glibFileUri(const fs::path& path) {
  static constexpr std::string_view kKept = "-._~!$&'()*+,:=@/";
  std::string uri = "file://";
  for (const char c : path.native()) {
    const auto byte = static_cast<unsigned char>(c);
    if (std::isalnum(byte) != 0 && byte < 0x80) {
      uri += c;
    } else if (kKept.find(c) != std::string_view::npos) {
      uri += c;
    } else {
      char encoded[4];
      std::snprintf(encoded, sizeof encoded, "%%%02X", byte);
      uri += encoded;
    }
  }
  return uri;
}

// nautilusArgument: a selected name as Nautilus 43 passes it to a script. It quotes the names
// into a command line for GLib's launcher, which expands desktop field codes in it: "%%"
// becomes "%", and a "%" with the character after it goes (the codes that would expand to
// something, such as "%c", are in no name here).
std::string nautilusArgument(const std::string& name) {
  std::string argument;
  for (std::size_t at = 0; at < name.size(); ++at) {
    if (name[at] != '%') {
      argument += name[at];
    } else if (at + 1 < name.size() && name[++at] == '%') {
      argument += '%';
    }
  }
  return argument;
}

class EntryNames : public EndToEnd {
 protected:
  EntryNames() : EndToEnd("Ann's \\ \"home\" $HOME") {}

  fs::path dataHome() const { return home() / ".local/share"; }

  // tools: stand-ins for the dialog tools, so that --notify shows nothing on this machine.
  std::string path() {
    const fs::path tools = directory() / "tools";
    for (const char* tool : {"zenity", "kdialog"}) {
      fs::create_directories(tools);
      test_support::writeText(tools / tool, "#!/bin/sh\nexit 0\n");
      fs::permissions(tools / tool, fs::perms::owner_all);
    }
    return tools.string() + ":/usr/bin:/bin";
  }

  // runIn runs a program in `directory` with `environment` on top of the test's own.
  RunResult runIn(const fs::path& directory, std::vector<std::string> arguments,
                  std::map<std::string, std::string> environment) {
    platform::SpawnOptions options;
    options.arguments = std::move(arguments);
    options.environment = std::move(environment);
    options.searchPath = true;
    options.workingDirectory = directory;
    options.errors = platform::StreamTarget::toFile(this->directory() / "errors");
    RunResult result;
    result.status = platform::ChildProcess::spawn(options).waitFor(platform::Seconds(40));
    result.errors = readText(this->directory() / "errors");
    return result;
  }

  // makeTone: a short real WAV, made by ffmpeg.
  fs::path makeTone() {
    const fs::path tone = directory() / "tone.wav";
    const RunResult made =
        runIn(directory(),
              {"ffmpeg", "-nostdin", "-loglevel", "error", "-f", "lavfi", "-i",
               "sine=frequency=440:duration=0.2", "-ac", "1", "file:" + tone.string()},
              {});
    EXPECT_EQ(made.status, 0) << made.errors;
    return tone;
  }

  // audioCodec: the codec ffprobe finds in the first audio stream of `file`.
  std::string audioCodec(const fs::path& file) {
    platform::SpawnOptions options;
    options.searchPath = true;
    options.arguments = {"ffprobe",
                         "-v",
                         "error",
                         "-select_streams",
                         "a:0",
                         "-show_entries",
                         "stream=codec_name",
                         "-of",
                         "default=nw=1:nk=1",
                         "file:" + file.string()};
    options.output = platform::StreamTarget::toFile(directory() / "probe");
    platform::ChildProcess::spawn(options).wait();
    return readText(directory() / "probe");
  }
};

TEST_F(EntryNames, NautilusScriptAndDolphinActionHandleEveryName) {
  install(builtPackage());
  startBus();  // the provider is started by bus activation, from the activation file
  const fs::path tone = makeTone();
  const fs::path nautilusFolder = home() / "Music/nautilus";
  const fs::path dolphinFolder = home() / "Music/dolphin";
  for (const fs::path& folder : {nautilusFolder, dolphinFolder}) {
    fs::create_directories(folder);
    for (const Name& name : kNames) fs::copy_file(tone, folder / name.file);
  }
  const fs::path script = dataHome() / "nautilus/scripts/Tonebrook/Convert to MP3";
  const std::string menu = readText(dataHome() / "kio/servicemenus/tonebrook-convert.desktop");
  const std::string exec =
      test_support::keyFileValue(menu, "Desktop Action convertToMP3", "Exec").value_or("");
  const std::string toolsPath = path();

  for (const Name& name : kNames) {
    SCOPED_TRACE(name.label);
    {
      SCOPED_TRACE("Nautilus: in the folder, the mangled name, the exact URI list");
      const fs::path file = nautilusFolder / name.file;
      const RunResult result = runIn(nautilusFolder, {script.string(), nautilusArgument(name.file)},
                                     {{"NAUTILUS_SCRIPT_SELECTED_URIS", glibFileUri(file) + "\n"},
                                      {"NAUTILUS_SCRIPT_SELECTED_FILE_PATHS", file.string() + "\n"},
                                      {"NAUTILUS_SCRIPT_CURRENT_URI", glibFileUri(nautilusFolder)},
                                      {"PATH", toolsPath}});
      EXPECT_EQ(result.status, 0) << result.errors;
      EXPECT_EQ(result.errors, "");
    }
    {
      // KIO passes a local file of %U as its path, held as UTF-16 on the way: a byte that is
      // not UTF-8 arrives as U+FFFD (seen in Dolphin 22.12), a name Tonebrook cannot read.
      SCOPED_TRACE("Dolphin: the MP3 action's Exec with %U as local paths, as KIO passes them");
      const std::string path = platform::validUtf8((dolphinFolder / name.file).string());
      const RunResult result =
          runIn(home(), test_support::execArguments(exec, {path}), {{"PATH", toolsPath}});
      if (path == (dolphinFolder / name.file).string()) {
        EXPECT_EQ(result.status, 0) << result.errors;
        EXPECT_EQ(result.errors, "");
      } else {
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(result.errors, "Tonebrook cannot read \u201c" +
                                     fs::path(path).filename().string() + "\u201d.\n");
      }
    }
  }
  if (const std::optional<int> pid = providerPid()) rememberProvider(*pid);

  // The host converts the requests one after another; each input gets exactly its own output
  // (in Dolphin's folder, every name that reached the client intact).
  for (const fs::path& folder : {nautilusFolder, dolphinFolder}) {
    std::set<std::string> expected;
    std::vector<fs::path> outputs;
    for (const Name& name : kNames) {
      expected.insert(name.file);
      if (folder == dolphinFolder && platform::validUtf8(name.file) != name.file) continue;
      outputs.push_back(folder / fs::path(name.file).replace_extension(".mp3"));
      expected.insert(outputs.back().filename().string());
    }
    EXPECT_TRUE(waitFor([&] { return test_support::names(folder) == expected; }, 60)) << folder;
    for (const fs::path& output : outputs) {
      SCOPED_TRACE(output.filename().string());
      EXPECT_EQ(audioCodec(output), "mp3\n");
    }
  }
  for (const auto& entry : fs::recursive_directory_iterator(directory())) {
    EXPECT_NE(entry.path().filename(), "pwned") << "a name was run as a command";
  }
}

// Every desktop entry the installer wrote passes desktop-file-validate, and the service menu
// is executable, as KDE requires of a menu in the user's data directory.
TEST_F(EntryNames, InstalledDesktopEntriesAreValid) {
  install(builtPackage());
  const fs::path menu = dataHome() / "kio/servicemenus/tonebrook-convert.desktop";
  for (const fs::path& entry : {menu, dataHome() / "applications/tonebrook.desktop"}) {
    const RunResult result = runIn(directory(), {"desktop-file-validate", entry.string()}, {});
    EXPECT_EQ(result.status, 0) << entry << ": " << result.errors;
  }
  EXPECT_NE(fs::status(menu).permissions() & fs::perms::owner_exec, fs::perms::none);
}

}  // namespace
}  // namespace e2e
