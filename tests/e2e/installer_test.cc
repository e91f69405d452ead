// The host's installer with the Services client, bus activation and real providers.
#include <fstream>

#include "exchange/inventory.h"
#include "exchange/record_files.h"
#include "lifetime/finder_provider_lifetime.h"
#include "platform/core/files.h"
#include "platform/linux/running_applications.h"
#include "tests/e2e/e2e_fixture.h"

namespace e2e {
namespace {

class Installer : public EndToEnd {
 protected:
  RunResult convert(const std::vector<std::string>& files, const std::string& format = "mp3") {
    std::vector<std::string> arguments{client().string(), format};
    arguments.insert(arguments.end(), files.begin(), files.end());
    return run(arguments, 40);
  }

  // serveFirstCall installs, starts the bus and has a first call served; the provider's pid.
  int serveFirstCall() {
    install(builtPackage());
    startBus();
    const RunResult result = convert({audioFile("first.wav").string()});
    EXPECT_EQ(result.status, 0) << result.errors;
    const std::optional<int> pid = providerPid();
    EXPECT_TRUE(pid && platform::testing::processAlive(*pid));
    if (pid) rememberProvider(*pid);
    return pid.value_or(-1);
  }

  FinderConversion::Receipt receipt() const {
    return FinderConversion::read<FinderConversion::Receipt>(stateRoot() /
                                                             FinderConversion::names::kReceipt);
  }
};

TEST_F(Installer, FreshInstallIsStartedByTheFirstClientCall) {
  install(builtPackage());
  EXPECT_EQ(receipt().files, FinderConversion::inventory(installedPackage()));
  EXPECT_EQ(receipt().payloadVersion, "1.0.0");
  EXPECT_EQ(receipt().appPath->filePath(), hostBundle());
  startBus();
  EXPECT_EQ(providerPid(), std::nullopt);

  // Names that only survive as bytes: spaces, quotes, a line break, "#", "?", "%" and a byte
  // that is not UTF-8. The host accepts only what it can read at the decoded path.
  // Besides, a path relative to the client's directory and a file URI.
  const fs::path odd = audioFile(std::string("it's \"a\"\n#1? 100% \xff.wav"));
  audioFile("relative one.wav");
  const RunResult result =
      convert({odd.string(), "home/Music/relative one.wav",
               "file://" + (home() / "Music" / "relative%20one.wav").string()});
  EXPECT_EQ(result.status, 0) << result.errors;
  EXPECT_EQ(result.errors, "");
  const std::optional<int> pid = providerPid();
  ASSERT_TRUE(pid);
  rememberProvider(*pid);
  EXPECT_TRUE(platform::testing::processAlive(*pid));
}

TEST_F(Installer, UpdateRetiresTheRunningProviderAndTheNextCallStartsANewOne) {
  const int oldProvider = serveFirstCall();
  install(packageWithVersion("2.0.0"));
  EXPECT_FALSE(platform::testing::processAlive(oldProvider));
  EXPECT_EQ(receipt().payloadVersion, "2.0.0");
  EXPECT_EQ(receipt().files, FinderConversion::inventory(installedPackage()));

  const RunResult result = convert({audioFile("second.wav").string()});
  EXPECT_EQ(result.status, 0) << result.errors;
  const std::optional<int> newProvider = providerPid();
  ASSERT_TRUE(newProvider);
  rememberProvider(*newProvider);
  EXPECT_NE(*newProvider, oldProvider);
}

// `Tonebrook --install-addon` and `--retire-provider` become the bundle's installer program, so a
// provider never takes them for the running host (while one that serves the queue still counts).
// A staged provider lock holder with a fresh heartbeat keeps both waiting for a retirement.
TEST_F(Installer, InstallerRolesInProgressAreNotTheRunningHost) {
  fs::create_directories(stateRoot());
  auto lock = platform::LockFile::open(stateRoot() / FinderConversion::names::kProviderLock);
  ASSERT_TRUE(lock && lock->tryLockExclusive());
  FinderProviderLifetime::State state;
  state.instance = platform::Uuid::random();
  state.pid = 4242;
  state.executableHash = std::string(64, 'a');
  state.payloadVersion = "1.0.0";
  state.updated = platform::secondsSinceReferenceDate() + 60;  // fresh for the whole test
  std::ofstream(stateRoot() / FinderConversion::names::kProviderState)
      << FinderConversion::encode(state);

  const fs::path installer = fs::canonical(hostBundle() / "Contents/Helpers/tonebrook-install");
  const std::vector<std::vector<std::string>> roles = {
      {host().string(), "--retire-provider"},
      {host().string(), "--install-addon", builtPackage().string()},
  };
  std::vector<std::unique_ptr<Program>> running;
  for (const auto& role : roles) {
    running.push_back(start(role));
    const std::string exe = "/proc/" + std::to_string(running.back()->pid()) + "/exe";
    EXPECT_TRUE(waitFor(
        [&] {
          std::error_code error;
          return fs::read_symlink(exe, error) == installer;
        },
        5))
        << role[1] << " runs as the installer program";
  }
  const std::unique_ptr<Program> server = start({host().string(), "--finder-service"});
  // Its environment in place too: the lookup reads its HOME there.
  const std::string serverProc = "/proc/" + std::to_string(server->pid());
  ASSERT_TRUE(waitFor(
      [&] {
        std::error_code error;
        std::ifstream environment(serverProc + "/environ");
        return fs::read_symlink(serverProc + "/exe", error) == fs::canonical(host()) &&
               environment.get() != std::char_traits<char>::eof();
      },
      5));

  std::vector<int> found;
  for (const auto& application :
       platform::runningApplicationsWithIdentifier(std::string(FinderConversion::bundleID))) {
    if (application.bundleURL == fs::canonical(hostBundle())) found.push_back(application.pid);
  }
  EXPECT_EQ(found, std::vector<int>{server->pid()}) << "only the host that serves the queue";

  // The commands themselves behave as before: the provider is still asked and does not go.
  for (std::size_t i = 0; i < running.size(); ++i) {
    EXPECT_EQ(running[i]->waitFor(platform::Seconds(10)), 1) << roles[i][1];
    EXPECT_EQ(running[i]->errors(),
              std::string(FinderProviderLifetime::kProviderStillRetiringSentence) + "\n")
        << roles[i][1];
  }
  EXPECT_EQ(FinderConversion::readDocument(stateRoot() / FinderConversion::names::kProviderRetire),
            "\"" + state.instance.text() + "\"");
}

TEST_F(Installer, UpdateIsRefusedWhileTheProviderDoesNotAnswer) {
  const int provider = serveFirstCall();
  platform::testing::sendSignal(provider, platform::testing::kSignalStop);
  std::this_thread::sleep_for(std::chrono::milliseconds(3200));  // the heartbeat goes stale
  const FinderConversion::Inventory before = FinderConversion::inventory(installedPackage());
  const std::string receiptBefore =
      FinderConversion::readDocument(stateRoot() / FinderConversion::names::kReceipt);

  const RunResult result =
      run({host().string(), "--install-addon", packageWithVersion("2.0.0").string()});
  platform::testing::sendSignal(provider, platform::testing::kSignalContinue);
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.errors,
            "The conversion provider is not responding. The existing add-on was preserved.\n");
  EXPECT_EQ(FinderConversion::inventory(installedPackage()), before);
  EXPECT_EQ(FinderConversion::readDocument(stateRoot() / FinderConversion::names::kReceipt),
            receiptBefore);
}

TEST_F(Installer, ReceiptThatCannotBeWrittenPutsTheOldPackageBack) {
  install(builtPackage());
  const FinderConversion::Inventory before = FinderConversion::inventory(installedPackage());
  const fs::path receiptFile = stateRoot() / FinderConversion::names::kReceipt;
  fs::remove(receiptFile);
  fs::create_directories(receiptFile / "in-the-way");  // the atomic rename cannot replace it

  const RunResult result =
      run({host().string(), "--install-addon", packageWithVersion("2.0.0").string()});
  EXPECT_EQ(result.status, 1);
  EXPECT_NE(result.errors.find("receipt.json"), std::string::npos) << result.errors;
  EXPECT_EQ(FinderConversion::inventory(installedPackage()), before);
  for (const auto& entry : fs::directory_iterator(installedPackage().parent_path())) {
    EXPECT_EQ(entry.path(), installedPackage()) << "no staged copy is left behind";
  }
}

// A folder below the home directory that is a link leads wherever someone pointed it: the
// installer refuses to write through it and changes nothing there.
TEST_F(Installer, RefusesToWriteThroughALinkItDidNotMake) {
  const fs::path elsewhere = directory() / "elsewhere";
  const struct {
    const char* name;
    fs::path linked;
  } cases[] = {
      {"the Services folder", home() / "Library/Services"},
      {"the bus's folder", home() / ".local/share/dbus-1"},
      {"the bus's services folder", home() / ".local/share/dbus-1/services"},
      {"the Nautilus scripts folder", home() / ".local/share/nautilus/scripts/Tonebrook"},
      {"the service menus folder", home() / ".local/share/kio/servicemenus"},
      {"the applications folder", home() / ".local/share/applications"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(home());
    fs::create_directories(elsewhere);
    fs::create_directories(c.linked.parent_path());
    fs::create_directory_symlink(elsewhere, c.linked);
    const RunResult result = run({host().string(), "--install-addon", builtPackage().string()});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.errors, c.linked.string() + ": Too many levels of symbolic links\n");
    EXPECT_TRUE(fs::is_empty(elsewhere));
    EXPECT_FALSE(fs::exists(home() / ".local/bin/tonebrook-services")) << "nothing was written";
    fs::remove(c.linked);
    fs::remove_all(elsewhere);
  }
}

// An installer killed on its way leaves a staged package (or the old one it had not yet
// removed) and a temporary receipt; before, they stayed for good. Under the lifecycle lock no
// other installer is at work, so the next one removes them whatever their age, and nothing
// that is not its own: a link named like a staged package goes, what it leads to stays.
TEST_F(Installer, TheNextInstallRemovesWhatKilledInstallersLeft) {
  install(builtPackage());
  const fs::path services = installedPackage().parent_path();
  const std::string staged = "." + std::string(FinderConversion::serviceName) + ".";
  const fs::path elsewhere = directory() / "elsewhere";
  fs::create_directories(elsewhere / "Contents");
  const std::vector<fs::path> left = {
      services / (staged + "0A1B2C3D-4E5F-4061-8293-A4B5C6D7E8F9"),
      services / (staged + "0a1b2c3d-4e5f-4061-8293-a4b5c6d7e8f0"),
      services / (staged + "1A1B2C3D-4E5F-4061-8293-A4B5C6D7E8F9"),  // a link
      stateRoot() / ".receipt.json.tmp-Ab12Cd",
  };
  fs::copy(builtPackage(), left[0], fs::copy_options::recursive);
  fs::create_directories(left[1] / "Contents/MacOS");
  fs::create_directory_symlink(elsewhere, left[2]);
  std::ofstream(left[3]) << "{\"version\":";
  const std::vector<fs::path> others = {
      services / (staged + "backup"),
      services / "Other.service",
      stateRoot() / ".provider-state.json.tmp-Ab12Cd",
  };
  for (const fs::path& other : others) std::ofstream(other) << "not the installer's";

  install(packageWithVersion("2.0.0"));
  for (const fs::path& path : left) EXPECT_FALSE(fs::exists(fs::symlink_status(path))) << path;
  for (const fs::path& path : others) EXPECT_TRUE(fs::exists(path)) << path;
  EXPECT_TRUE(fs::exists(elsewhere / "Contents"));
  EXPECT_EQ(receipt().payloadVersion, "2.0.0");
}

TEST_F(Installer, RefusesSomethingThatIsNotTheAddOn) {
  install(builtPackage());
  const FinderConversion::Inventory before = FinderConversion::inventory(installedPackage());
  const RunResult result = run({host().string(), "--install-addon", hostBundle().string()});
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.errors,
            "The chosen package is not a Tonebrook Quick Conversion add-on. "
            "Nothing was changed.\n");
  EXPECT_EQ(FinderConversion::inventory(installedPackage()), before);
}

// Without PACKAGE, the add-on that came with the host, beside its bundle (as a package installs
// both in /usr/lib/tonebrook), also when the host is run through a link (/usr/bin/Tonebrook).
TEST_F(Installer, WithoutAPackageInstallsTheAddOnBesideTheHost) {
  const fs::path link = directory() / "bin/Tonebrook";
  fs::create_directories(link.parent_path());
  fs::create_symlink(host(), link);
  {
    SCOPED_TRACE("no add-on beside the host");
    const RunResult result = run({link.string(), "--install-addon"});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.errors,
              "No add-on package was found beside this copy of Tonebrook. Name one: Tonebrook "
              "--install-addon PACKAGE. Nothing was changed.\n");
    EXPECT_FALSE(fs::exists(installedPackage()));
  }
  fs::copy(builtPackage(), hostBundle().parent_path() / FinderConversion::serviceName,
           fs::copy_options::recursive);
  const RunResult result = run({link.string(), "--install-addon"});
  EXPECT_EQ(result.status, 0) << result.errors;
  EXPECT_EQ(FinderConversion::inventory(installedPackage()),
            FinderConversion::inventory(builtPackage()));
  EXPECT_EQ(receipt().files, FinderConversion::inventory(installedPackage()));
  EXPECT_EQ(receipt().appPath->filePath(), hostBundle()) << "bound to the bundle, not the link";
}

// Only UTF-8 goes on the bus: user data typed in another encoding is sent with replacement
// characters, and the provider refuses it like any unknown format.
TEST_F(Installer, UserDataThatIsNotUtf8GetsTheFormatSentence) {
  install(builtPackage());
  startBus();
  const RunResult result = convert({audioFile("tone.wav").string()}, "mp3\xff");
  if (const std::optional<int> pid = providerPid()) rememberProvider(*pid);
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.errors, std::string(FinderConversion::kSelectionSentence) + "\n");
}

TEST_F(Installer, ClientTurnsBusFailuresIntoSentences) {
  install(builtPackage());
  const std::string file = audioFile("tone.wav").string();
  {
    SCOPED_TRACE("no session bus");
    const RunResult result = convert({file});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.errors,
              "The desktop session bus cannot be reached, so the conversion "
              "service is unavailable.\n");
  }
  startBus();
  {
    SCOPED_TRACE("the provider exits at start: somebody else holds the provider lock");
    std::optional<platform::LockFile> lock =
        platform::LockFile::open(stateRoot() / FinderConversion::names::kProviderLock);
    ASSERT_TRUE(lock && lock->tryLockExclusive());
    const RunResult result = convert({file});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.errors,
              "The Tonebrook conversion service could not be started. Retry in a moment.\n");
  }
  {
    SCOPED_TRACE("no activation file");
    fs::remove(home() / ".local/share/dbus-1/services/app.tonebrook.QuickConversion.service");
    const RunResult result = convert({file});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.errors,
              "The Tonebrook conversion service is not installed. Install the "
              "add-on from Tonebrook and try again.\n");
  }
}

// With --notify and no notification server on the bus, the outcome goes to the first dialog
// tool that works; with none it is on standard error alone.
TEST_F(Installer, NotifyFallsBackToDialogToolsAndStandardError) {
  install(builtPackage());
  startBus();
  fs::remove(home() / ".local/share/dbus-1/services/app.tonebrook.QuickConversion.service");
  const std::string sentence =
      "The Tonebrook conversion service is not installed. Install the add-on from Tonebrook and "
      "try again.";
  struct Case {
    const char* name;
    int zenityStatus;  // -1: not installed
    int kdialogStatus;
    const char* shownBy;  // nullptr: nobody
  };
  const Case cases[] = {
      {"zenity", 0, 0, "zenity"},
      {"zenity fails, kdialog", 1, 0, "kdialog"},
      {"kdialog only", -1, 0, "kdialog"},
      {"neither", -1, -1, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const fs::path tools = directory() / "tools" / c.name;
    fs::create_directories(tools);
    for (const auto& [tool, status] :
         {std::pair{"zenity", c.zenityStatus}, std::pair{"kdialog", c.kdialogStatus}}) {
      if (status < 0) continue;
      const fs::path script = tools / tool;
      std::ofstream(script) << "#!/bin/sh\nprintf '%s\\n' \"$@\" > '" << (tools / tool).string()
                            << ".log'\nexit " << status << "\n";
      fs::permissions(script, fs::perms::owner_all);
    }
    const RunResult result = run({client().string(), "--notify", "mp3", "a.wav"}, 30,
                                 {{"PATH", tools.string() + ":/usr/bin:/bin"}});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.errors, sentence + "\n");
    if (c.shownBy != nullptr) {
      std::ifstream log(tools / (std::string(c.shownBy) + ".log"));
      const std::string shown((std::istreambuf_iterator<char>(log)), {});
      EXPECT_NE(shown.find(sentence), std::string::npos) << shown;
    }
  }
}

}  // namespace
}  // namespace e2e
