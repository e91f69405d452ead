#include "host/addon_entries.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "exchange/constants.h"
#include "platform/core/error.h"
#include "platform/core/spawn.h"
#include "platform/testing/private_bus.h"
#include "support/desktop_entry.h"
#include "support/test_support.h"

namespace {

namespace fs = std::filesystem;
using test_support::readText;
using test_support::TempDirectory;
using test_support::writeText;

// Every byte but "/", a line break and NUL can be in a home's name; these are the ones that
// each quoting scheme treats specially.
const char* const kAwkwardNames[] = {
    "space in it",
    "it's",
    "back\\slash",
    "\\s \\t \\n \\\\ \\'",
    "say \"hi\"",
    "$HOME `id`",
    "#hash",
    "50% %U %%",
    "tab\there",
    "trailing\\",
    "Caf\u00e9 \u00d1",
    ";&|*?<>(){}[]~!=",
};

fs::path makeExecutable(const fs::path& path, const std::string& text) {
  fs::create_directories(path.parent_path());
  writeText(path, text);
  fs::permissions(path, fs::perms::owner_all);
  return path;
}

// runProgram runs `arguments` to its end; its exit status.
int runProgram(std::vector<std::string> arguments, std::map<std::string, std::string> environment,
               std::vector<std::string> unset, const fs::path& directory) {
  platform::SpawnOptions options;
  options.arguments = std::move(arguments);
  options.environment = std::move(environment);
  options.unset = std::move(unset);
  options.workingDirectory = directory;
  return platform::ChildProcess::spawn(options).wait();
}

std::vector<std::string> nulSeparated(const std::string& text) {
  std::vector<std::string> words;
  for (std::size_t at = 0, end = 0; (end = text.find('\0', at)) != std::string::npos;
       at = end + 1) {
    words.push_back(text.substr(at, end - at));
  }
  return words;
}

// The bus daemon unescapes its key file (it ignores the whole file at an escape it does not
// know) and splits Exec like a shell; the program it starts must be the one named, whatever
// its path holds.
TEST(AddOnEntries, BusDaemonStartsTheProviderTheActivationFileNames) {
  const TempDirectory directory("activation-file");
  int number = 0;
  for (const char* name : kAwkwardNames) {
    SCOPED_TRACE(name);
    const fs::path root = directory / std::to_string(++number);
    const fs::path started = root / "started";
    const fs::path provider = makeExecutable(
        root / name / "TonebrookQuickConversion",
        "#!/bin/sh\nprintf '%s' \"$0\" > " + host::shellQuote(started.native()) + "\nexit 1\n");
    fs::create_directories(root / "services");
    writeText(root / "services/app.tonebrook.QuickConversion.service",
              host::activationFileText(provider));
    fs::create_directories(root / "bus");
    const platform::testing::PrivateBus bus(root / "bus", root / "services");

    const platform::testing::BusReply reply = platform::testing::callConvert(
        bus.address(), "app.tonebrook.QuickConversion", {}, "mp3", platform::Seconds(5));
    EXPECT_EQ(reply.errorName, "org.freedesktop.DBus.Error.Spawn.ChildExited")
        << reply.errorMessage;
    EXPECT_EQ(readText(started), provider.native());
  }
}

// The script as Nautilus runs it, with a recorder for a client: what the client is given.
TEST(AddOnEntries, NautilusScriptPassesTheExactURIsElseItsArguments) {
  const TempDirectory directory("nautilus-script");
  const fs::path recorded = directory / "recorded";
  const fs::path client = makeExecutable(
      directory / "it's a \"client\"",
      "#!/bin/sh\nprintf '%s\\0' \"$@\" > " + host::shellQuote(recorded.native()) + "\n");
  const fs::path script =
      makeExecutable(directory / "Convert to MP3", host::nautilusScriptText(client, "mp3"));
  writeText(directory / "glob bait.wav", "");  // what "*" would match if it were expanded

  struct Case {
    const char* name;
    std::optional<std::string> uris;  // NAUTILUS_SCRIPT_SELECTED_URIS
    std::vector<std::string> arguments;
    std::vector<std::string> files;  // what reaches the client after "--"
    std::map<std::string, std::string> environment = {};
  };
  const Case cases[] = {
      {"the URIs, not the mangled arguments",
       "file:///m/100%25%20x.wav\nfile:///m/-n.wav\n",
       {"100x.wav", "-n.wav"},
       {"file:///m/100%25%20x.wav", "file:///m/-n.wav"}},
      {"a URI stays one word: no splitting at blanks, no globbing",
       "file:///m/* a\tb $(x) `y` '\"?[g].wav\n",
       {"x"},
       {"file:///m/* a\tb $(x) `y` '\"?[g].wav"}},
      {"an IFS from the environment changes nothing",
       "file:///m/a:b.wav\nfile:///m/c.wav",
       {"x"},
       {"file:///m/a:b.wav", "file:///m/c.wav"},
       {{"IFS", ":/"}}},
      {"no URI list: the arguments",
       std::nullopt,
       {"-n.wav", "a\nb.wav", "*"},
       {"-n.wav", "a\nb.wav", "*"}},
      {"an empty URI list: the arguments", "", {"a b.wav"}, {"a b.wav"}},
      {"a remote file among them: the arguments",
       "file:///m/a.wav\nsftp://host/b.wav\n",
       {"a.wav", "/run/user/1/gvfs/sftp:host=host/b.wav"},
       {"a.wav", "/run/user/1/gvfs/sftp:host=host/b.wav"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove(recorded);
    std::vector<std::string> command{script.native()};
    command.insert(command.end(), c.arguments.begin(), c.arguments.end());
    std::map<std::string, std::string> environment = c.environment;
    if (c.uris) environment["NAUTILUS_SCRIPT_SELECTED_URIS"] = *c.uris;
    std::vector<std::string> unset;
    if (!c.uris) unset.emplace_back("NAUTILUS_SCRIPT_SELECTED_URIS");
    ASSERT_EQ(runProgram(command, environment, unset, directory.path()), 0);
    std::vector<std::string> expected{"--notify", "mp3", "--"};
    expected.insert(expected.end(), c.files.begin(), c.files.end());
    EXPECT_EQ(nulSeparated(readText(recorded)), expected);
  }
}

// Each action's Exec, read by the Desktop Entry rules with %U expanded, runs the client named
// with its format and the files after "--".
TEST(AddOnEntries, ServiceMenuActionsRunTheClientOnTheFilesForEachFormat) {
  for (const char* name : kAwkwardNames) {
    SCOPED_TRACE(name);
    const fs::path client = fs::path("/home") / name / ".local/bin/tonebrook-services";
    const std::string menu = host::serviceMenuText(client);
    EXPECT_EQ(test_support::keyFileValue(menu, "Desktop Entry", "MimeType"), "audio/*;");
    EXPECT_EQ(test_support::keyFileValue(menu, "Desktop Entry", "X-KDE-Protocols"), "file");
    for (std::string_view format : FinderConversion::formats) {
      std::string upper(format);
      for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
      const std::string group = "Desktop Action convertTo" + upper;
      EXPECT_EQ(test_support::keyFileValue(menu, group, "Name"), "Convert to " + upper);
      const std::optional<std::string> exec = test_support::keyFileValue(menu, group, "Exec");
      ASSERT_TRUE(exec) << group;
      EXPECT_EQ(test_support::execArguments(*exec, {"/m/a b.wav", "/m/-n.wav"}),
                (std::vector<std::string>{client.native(), "--notify", std::string(format), "--",
                                          "/m/a b.wav", "/m/-n.wav"}));
    }
  }
}

TEST(AddOnEntries, ApplicationEntryStartsTheConverterRoleOutOfMenus) {
  const fs::path host = "/opt/it's 50% \"$x\" \\/Tonebrook.app/Contents/MacOS/Tonebrook";
  const std::string entry = host::applicationEntryText(host);
  EXPECT_EQ(test_support::keyFileValue(entry, "Desktop Entry", "Name"), "Tonebrook");
  EXPECT_EQ(test_support::keyFileValue(entry, "Desktop Entry", "NoDisplay"), "true");
  EXPECT_EQ(test_support::keyFileValue(entry, "Desktop Entry", "TryExec"), host.native());
  EXPECT_EQ(test_support::execArguments(
                test_support::keyFileValue(entry, "Desktop Entry", "Exec").value_or(""), {}),
            (std::vector<std::string>{host.native(), "--finder-service"}));
}

// desktop-file-validate (desktop-file-utils) judges both desktop entries, with paths that
// need every kind of quoting.
TEST(AddOnEntries, DesktopEntriesAreValid) {
  const TempDirectory directory("desktop-entries");
  for (const char* name : kAwkwardNames) {
    SCOPED_TRACE(name);
    const fs::path home = fs::path("/home") / name;
    const std::pair<const char*, std::string> entries[] = {
        {"tonebrook-convert.desktop",
         host::serviceMenuText(home / ".local/bin/tonebrook-services")},
        {"tonebrook.desktop",
         host::applicationEntryText(home / "Tonebrook.app/Contents/MacOS/Tonebrook")},
    };
    for (const auto& [file, text] : entries) {
      writeText(directory / file, text);
      platform::SpawnOptions options;
      options.arguments = {"desktop-file-validate", (directory / file).native()};
      options.searchPath = true;
      options.output = platform::StreamTarget::toFile(directory / "report");
      options.errors = platform::StreamTarget::sameAsOutput();
      EXPECT_EQ(platform::ChildProcess::spawn(options).wait(), 0)
          << file << ":\n"
          << readText(directory / "report") << text;
    }
  }
}

class WriteEntries : public ::testing::Test {
 protected:
  host::EntryLocations locations(const fs::path& home) const {
    return {.dataHome = home / ".local/share", .binDirectory = home / ".local/bin"};
  }
  void write(const fs::path& home, const fs::path& hostExecutable = "/opt/T.app/Tonebrook") {
    host::writeEntries(locations(home), home / "Library/Services/P", client_, hostExecutable);
  }

  TempDirectory directory_{"write-entries"};
  fs::path client_ = makeExecutable(directory_ / "client", "#!/bin/sh\n");
};

TEST_F(WriteEntries, HomesTheEntriesCannotNameAreRefusedBeforeAnythingIsWritten) {
  const std::pair<const char*, std::string_view> cases[] = {
      {"home\xe9", host::kNotUtf8Sentence},
      {"home\nline", host::kLineBreakSentence},
  };
  for (const auto& [name, sentence] : cases) {
    SCOPED_TRACE(sentence);
    const fs::path home = directory_ / name;
    try {
      write(home);
      ADD_FAILURE() << "accepted";
    } catch (const platform::Error& error) {
      EXPECT_EQ(error.description(), sentence);
    }
    EXPECT_FALSE(fs::exists(home));
  }
}

// Scripts, the service menu and the client are executable, the activation file is not, and
// nothing temporary is left. (That each appears with its mode, never before a chmod, is the
// staged write's: tests/platform/core/files_test.cc.)
TEST_F(WriteEntries, EntriesHaveTheirModesAndNoTemporaryFileIsLeft) {
  const fs::path home = directory_ / "home";
  write(home);
  const host::EntryLocations where = locations(home);
  for (const fs::path& file :
       {where.serviceMenu(), where.nautilusScripts() / "Convert to MP3", where.client()}) {
    EXPECT_EQ(test_support::permissions(file), fs::perms(0755)) << file;
  }
  EXPECT_EQ(test_support::permissions(where.activationFile()), fs::perms(0644));
  EXPECT_EQ(readText(where.activationFile()),
            host::activationFileText(home / "Library/Services/P"));
  EXPECT_EQ(test_support::names(where.nautilusScripts()).size(), 5u) << "no temporary file";
}

// A killed installer leaves the temporary files of the client and the entries; the next one
// removes those, and only those.
TEST_F(WriteEntries, OnlyTheirOwnLeftoversAreRemoved) {
  const host::EntryLocations where = locations(directory_ / "home");
  const fs::path services = where.activationFile().parent_path();
  const fs::path menus = where.serviceMenu().parent_path();
  const fs::path scripts = where.nautilusScripts();
  const fs::path applications = where.applicationEntry().parent_path();
  for (const fs::path& folder : {where.binDirectory, services, menus, scripts, applications}) {
    fs::create_directories(folder);
  }
  const std::vector<fs::path> owned = {
      where.binDirectory / ".tonebrook-services.tmp-Ab12Cd",
      services / ".app.tonebrook.QuickConversion.service.tmp-Ab12Cd",
      scripts / ".Convert to MP3.tmp-Ab12Cd",
      menus / ".tonebrook-convert.desktop.tmp-Ab12Cd",
      applications / ".tonebrook.desktop.tmp-Ab12Cd",
  };
  const std::vector<fs::path> others = {
      where.binDirectory / ".tonebrook-services.mine",
      services / ".org.example.Other.service.tmp-Ab12Cd",
      menus / ".other.desktop.tmp-Ab12Cd",
  };
  for (const fs::path& file : owned) writeText(file, "partial");
  for (const fs::path& file : others) writeText(file, "someone else's");

  host::removeLeftovers(where);
  for (const fs::path& file : owned) EXPECT_FALSE(fs::exists(file)) << file;
  for (const fs::path& file : others) EXPECT_TRUE(fs::exists(file)) << file;
}

// The application entry is replaced only when the installer wrote it; one the user made under
// that name, or a link, is theirs. A host that no entry can name gets none, and the install
// goes on.
TEST_F(WriteEntries, ApplicationEntryReplacesOnlyItsOwn) {
  const std::string ours = host::applicationEntryText("/old/Tonebrook");
  const std::string theirs = "[Desktop Entry]\nType=Application\nName=Mine\nExec=mine\n";
  struct Case {
    const char* name;
    std::function<void(const fs::path&)> before;
    fs::path host;
    std::optional<std::string> after;  // nullopt: what `before` left
  };
  const Case cases[] = {
      {"none yet", [](const fs::path&) {}, "/opt/T/Tonebrook",
       host::applicationEntryText("/opt/T/Tonebrook")},
      {"ours", [&](const fs::path& entry) { writeText(entry, ours); }, "/opt/T/Tonebrook",
       host::applicationEntryText("/opt/T/Tonebrook")},
      {"the user's", [&](const fs::path& entry) { writeText(entry, theirs); }, "/opt/T/Tonebrook",
       std::nullopt},
      {"a link to ours",
       [&](const fs::path& entry) {
         writeText(entry.parent_path() / "elsewhere", ours);
         fs::create_symlink("elsewhere", entry);
       },
       "/opt/T/Tonebrook", std::nullopt},
      {"a host no entry can name", [&](const fs::path& entry) { writeText(entry, ours); },
       "/opt/T\xff/Tonebrook", std::nullopt},
  };
  int number = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const fs::path home = directory_ / std::to_string(++number);
    const fs::path entry = locations(home).applicationEntry();
    fs::create_directories(entry.parent_path());
    c.before(entry);
    const std::string before = fs::exists(entry) ? readText(entry) : "";
    write(home, c.host);
    EXPECT_EQ(readText(entry), c.after.value_or(before));
    EXPECT_EQ(fs::is_symlink(entry), std::string(c.name) == "a link to ours");
  }
}

}  // namespace
