// How the user hears that a conversion ended: the real host and its notifier, real ffmpeg, a
// private dbus-daemon and the stand-in notification server and file manager on it. On the road a
// user takes (client -> bus activation -> provider -> host) and with a host that meets a folder
// it cannot write or a full disk (in a mount namespace of its own where the test may make one).
#include <chrono>
#include <fstream>
#include <optional>
#include <set>

#include "exchange/record_files.h"
#include "exchange/records.h"
#include "platform/testing/desktop_services_stand_in.h"
#include "support/test_support.h"
#include "tests/e2e/e2e_fixture.h"
#include "tests/host/wav.h"

namespace e2e {
namespace {

using platform::Url;
using platform::testing::DesktopServicesStandIn;
using platform::testing::ReceivedNotification;

constexpr platform::Seconds kNotificationWait{20};

class Notifications : public EndToEnd {
 protected:
  void SetUp() override {
    EndToEnd::SetUp();
    install(builtPackage());
    startBus();
    fs::create_directories(music());
  }

  fs::path music() const { return home() / "Music"; }
  fs::path notifier() const { return hostBundle() / "Contents/Helpers/tonebrook-notify"; }

  fs::path wav(const fs::path& folder, const std::string& name, std::uint32_t samples = 4410) {
    host_test::writeSilentWav(folder / name, samples);
    return folder / name;
  }
  fs::path textFile(const std::string& name) {
    std::ofstream(music() / name) << "shopping list: not audio at all\n";
    return music() / name;
  }

  // queue puts a request straight into the queue, for a host the test starts itself.
  FinderConversion::Request queue(const std::vector<fs::path>& inputs, const std::string& format) {
    FinderConversion::Request request;
    request.format = format;
    for (const fs::path& input : inputs) request.inputs.push_back({Url::fromFilePath(input), {}});
    FinderConversion::enqueue(request, stateRoot());
    return request;
  }

  FinderConversion::Acknowledgement answerTo(const platform::Uuid& id) const {
    return FinderConversion::read<FinderConversion::Acknowledgement>(
        FinderConversion::acknowledgements(stateRoot()) / FinderConversion::fileName(id));
  }

  // confinement: the unshare options that give a process a mount namespace of its own here
  // (as root "-m", else maybe "-r -m" in a user namespace); nullopt when none works.
  std::optional<std::vector<std::string>> confinement() {
    for (std::vector<std::string> option :
         {std::vector<std::string>{"-m"}, std::vector<std::string>{"-r", "-m"}}) {
      std::vector<std::string> arguments{kUnshare};
      arguments.insert(arguments.end(), option.begin(), option.end());
      arguments.emplace_back("/bin/true");
      if (fs::exists(kUnshare) && run(arguments, 10).status == 0) return option;
    }
    return std::nullopt;
  }

  // startHost runs `script` with sh, in a mount namespace of its own when `confine` is given;
  // the script then executes the host's converter role ("$@").
  std::unique_ptr<Program> startHost(const std::optional<std::vector<std::string>>& confine,
                                     const std::string& script) {
    std::vector<std::string> arguments;
    if (confine) {
      arguments.emplace_back(kUnshare);
      arguments.insert(arguments.end(), confine->begin(), confine->end());
    }
    arguments.insert(arguments.end(),
                     {"/bin/sh", "-c", script, "sh", host().string(), "--finder-service"});
    return start(arguments);
  }

  // expectEveryFileFailed: the request's one notification says `summary` and `body` in the look
  // of a failure, with nothing to show; its acknowledgement is terminal with every job failed.
  void expectEveryFileFailed(const DesktopServicesStandIn& desktop, Program& running,
                             const FinderConversion::Request& request, const char* summary,
                             const char* body) {
    ASSERT_TRUE(desktop.waitForNotifications(1, kNotificationWait)) << running.errors();
    const ReceivedNotification received = desktop.notifications().back();
    EXPECT_EQ(received.summary, summary);
    EXPECT_EQ(received.body, body);
    EXPECT_EQ(received.urgency, 2);
    EXPECT_EQ(received.icon, "dialog-error");
    EXPECT_EQ(received.desktopEntry, "tonebrook");
    EXPECT_EQ(received.actions, std::vector<std::string>{}) << "nothing to show";
    const FinderConversion::Acknowledgement answer = answerTo(request.id);
    EXPECT_TRUE(answer.terminal);
    EXPECT_EQ(answer.outputs, std::vector<Url>{});
    for (const platform::Uuid& job : answer.jobs) EXPECT_EQ(answer.states.at(job.text()), "failed");
    EXPECT_EQ(running.waitFor(platform::Seconds(10)), 0) << running.errors();
  }

  static constexpr const char* kUnshare = "/usr/bin/unshare";
};

std::vector<std::string> urlsOf(const std::vector<fs::path>& files) {
  std::vector<std::string> urls;
  for (const fs::path& file : files) urls.push_back(Url::fromFilePath(file).text());
  return urls;
}

// The real road: the client's call starts the provider by bus activation, which starts the host;
// the host's notifier reaches the same session bus though the bus was started with another
// DBUS_SESSION_BUS_ADDRESS (the fixture's "no-bus"), and Show in Files shows the outputs.
TEST_F(Notifications, EachRequestIsToldOnceOnTheActivationRoadAndShowInFilesShowsItsOutputs) {
  DesktopServicesStandIn desktop(busAddress());
  const struct {
    const char* name;
    std::vector<fs::path> inputs;
    std::vector<fs::path> outputs;
    const char* summary;
    const char* body;
    bool failure;
  } cases[] = {
      {"one file",
       {wav(music(), "tone.wav")},
       {music() / "tone.mp3"},
       "Converted to MP3",
       "Tonebrook converted 1 file.",
       false},
      {"two of three",
       {wav(music(), "a.wav"), textFile("notes.wav"), wav(music(), "b.wav")},
       {music() / "a.mp3", music() / "b.mp3"},
       "Converted 2 of 3 files to MP3",
       "\u201cnotes.wav\u201d: not an audio file",
       true},
  };
  std::size_t count = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> arguments{client().string(), "mp3"};
    for (const fs::path& input : c.inputs) arguments.push_back(input.string());
    const RunResult call = run(arguments, 40);
    ASSERT_EQ(call.status, 0) << call.errors;
    if (const std::optional<int> pid = providerPid()) rememberProvider(*pid);

    ASSERT_TRUE(desktop.waitForNotifications(++count, kNotificationWait));
    const ReceivedNotification received = desktop.notifications().back();
    EXPECT_EQ(received.appName, "Tonebrook");
    EXPECT_EQ(received.summary, c.summary);
    EXPECT_EQ(received.body, c.body);
    EXPECT_EQ(received.urgency, c.failure ? 2 : 1);
    EXPECT_EQ(received.icon, c.failure ? "dialog-error" : "audio-x-generic");
    EXPECT_EQ(received.desktopEntry, "tonebrook");
    EXPECT_EQ(received.actions, (std::vector<std::string>{"show-in-files", "Show in Files"}));
    std::error_code error;
    EXPECT_EQ(fs::read_symlink("/proc/" + std::to_string(received.senderPid) + "/exe", error),
              notifier());

    desktop.invokeAction(received.id, "show-in-files");
    ASSERT_TRUE(desktop.waitForShownItems(count, kNotificationWait));
    EXPECT_EQ(desktop.shownItems().back().uris, urlsOf(c.outputs));
    EXPECT_EQ(desktop.shownItems().back().startupId, DesktopServicesStandIn::kActivationToken);
    EXPECT_TRUE(waitFor([&] { return !platform::testing::processAlive(received.senderPid); }, 5))
        << "the notifier stays after the user answered";
  }
  EXPECT_EQ(desktop.notifications().size(), count) << "one notification per request";
}

// A folder the host cannot write to: every file failed with that reason, no action, nothing
// left in the folder. As root a folder's mode does not stop writes, so there the host gets a
// mount namespace of its own in which the folder is read-only.
TEST_F(Notifications, AFolderThatCannotBeWrittenFailsEveryFileWithThatReason) {
  DesktopServicesStandIn desktop(busAddress());
  const fs::path locked = home() / "Locked";
  fs::create_directories(locked);
  const FinderConversion::Request request =
      queue({wav(locked, "first take.wav"), wav(locked, "second take.wav")}, "mp3");
  fs::permissions(locked, fs::perms::owner_read | fs::perms::owner_exec);
  const bool modeStopsWrites = !std::ofstream(locked / "probe");
  fs::permissions(locked, fs::perms::owner_all);
  fs::remove(locked / "probe");
  const std::optional<std::vector<std::string>> confine =
      modeStopsWrites ? std::nullopt : confinement();
  if (!modeStopsWrites && !confine) {
    GTEST_SKIP() << "neither a folder's mode nor a mount namespace (unshare -m, unshare -r -m) "
                    "can keep this process from writing";
  }
  const std::string folder = "'" + locked.string() + "'";
  auto running =
      startHost(confine, confine ? "mount --bind -o ro " + folder + " " + folder + " && exec \"$@\""
                                 : "chmod 0555 " + folder + " && exec \"$@\"");
  expectEveryFileFailed(desktop, *running, request, "Could not convert 2 files to MP3",
                        "\u201cfirst take.wav\u201d: its folder cannot be written to\n"
                        "\u201csecond take.wav\u201d: its folder cannot be written to");
  fs::permissions(locked, fs::perms::owner_all);
  EXPECT_EQ(test_support::names(locked),
            (std::set<std::string>{"first take.wav", "second take.wav"}));
}

// A disk that fills up while ffmpeg writes: ffmpeg 5.1 ends with status 0 and a cut-off file,
// which must not count as converted. The host gets a small tmpfs in a mount namespace.
TEST_F(Notifications, AFullDiskFailsTheFileWithThatReasonAndKeepsNoCutOffOutput) {
  const std::optional<std::vector<std::string>> confine = confinement();
  if (!confine) GTEST_SKIP() << "no mount namespace (unshare -m, unshare -r -m) can be had here";
  DesktopServicesStandIn desktop(busAddress());
  const fs::path small = home() / "Small";
  fs::create_directories(small);
  // 160 KB: it fits in the 200 KB disk, a WAV copy of it does not.
  const fs::path original = wav(directory(), "long take.wav", 80'000);
  const FinderConversion::Request request = queue({small / "long take.wav"}, "wav");
  const std::string folder = "'" + small.string() + "'";
  auto running = startHost(confine, "mount -t tmpfs -o size=200k tmpfs " + folder + " && cp '" +
                                        original.string() + "' " + folder + " && exec \"$@\"");
  expectEveryFileFailed(desktop, *running, request, "Could not convert to WAV",
                        "\u201clong take.wav\u201d: the disk is full");
}

// Nothing owns org.freedesktop.Notifications and neither zenity nor kdialog can show anything:
// the outcome is logged, one line with the request's identifier, and the conversion stands.
TEST_F(Notifications, WithoutAServerTheOutcomeIsLoggedWithTheRequest) {
  const fs::path tools = directory() / "tools";
  fs::create_directories(tools);
  for (const char* tool : {"zenity", "kdialog"}) {
    std::ofstream(tools / tool) << "#!/bin/sh\nexit 1\n";
    fs::permissions(tools / tool, fs::perms::owner_all);
  }
  const FinderConversion::Request request = queue({wav(music(), "tone.wav")}, "ogg");
  auto running =
      start({host().string(), "--finder-service"}, {{"PATH", tools.string() + ":/usr/bin:/bin"}});
  ASSERT_TRUE(waitFor(
      [&] {
        const fs::path answer = FinderConversion::acknowledgements(stateRoot()) /
                                FinderConversion::fileName(request.id);
        const auto ack = FinderConversion::tryRead<FinderConversion::Acknowledgement>(answer);
        return ack && ack->terminal;
      },
      20))
      << running->errors();
  EXPECT_EQ(answerTo(request.id).outputs,
            std::vector<Url>{Url::fromFilePath(music() / "tone.ogg")});
  if (journalRuns()) GTEST_SKIP() << "the line went to the journal";
  const std::string expected = "Tonebrook: request " + request.id.text() +
                               ": nothing could show its notification (no notification server, "
                               "zenity or kdialog): \u201cConverted to OGG\u201d: Tonebrook "
                               "converted 1 file.\n";
  EXPECT_TRUE(waitFor([&] { return running->errors().find(expected) != std::string::npos; }, 10))
      << running->errors();
}

}  // namespace
}  // namespace e2e
