// The Services machinery on a private dbus-daemon: what a caller on the bus sends reaches
// convert as a pasteboard, failures come back as app.tonebrook.Services.Failed with the
// sentence, and a call that arrives while a delivery waits is answered at once.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <functional>
#include <future>
#include <thread>

#include "platform/core/spawn.h"
#include "platform/desktop/desktop.h"
#include "platform/testing/private_bus.h"
#include "support/temp_directory.h"
#include "test_bundles.h"

namespace platform {
namespace {

using testing::BusPasteboard;
using testing::BusReply;
using testing::callConvert;

constexpr const char* kName = "app.tonebrook.DesktopTest";
constexpr const char* kBusy = "The conversion add-on is finishing an update. Retry in a moment.";

// What one convert saw.
struct Seen {
  std::optional<std::vector<std::string>> fileURLs;
  std::optional<Pasteboard::FilenamesValue> filenames;
  std::optional<std::string> userData;
  bool operator==(const Seen& other) const {
    return fileURLs == other.fileURLs && userData == other.userData &&
           filenames.has_value() == other.filenames.has_value() &&
           (!filenames || filenames->paths == other.filenames->paths);
  }
};

class RecordingProvider final : public ServicesProvider {
 public:
  std::function<void(std::optional<std::string>&)> behaviour = [](auto&) {};
  std::vector<Seen> seen;

  void convert(Pasteboard& pasteboard, const std::optional<std::string>& userData,
               std::optional<std::string>& error) override {
    Seen call{std::nullopt, pasteboard.filenames(), userData};
    if (auto urls = pasteboard.readFileURLs()) {
      call.fileURLs.emplace();
      for (const auto& url : *urls) call.fileURLs->push_back(url.text());
    }
    seen.push_back(call);
    behaviour(error);
  }
};

class ServicesBusTest : public ::testing::Test {
 protected:
  void SetUp() override {
    bus.useAsSessionBus();
    desktop = makeDesktop(0, nullptr);
    desktop->registerServicesProvider(provider, kName);
  }

  std::future<BusReply> call(BusPasteboard pasteboard, std::string userData = "mp3") {
    return std::async(std::launch::async, [address = bus.address(), pasteboard, userData] {
      return callConvert(address, kName, pasteboard, userData, Seconds(10));
    });
  }

  // serveUntil runs the desktop's loop in short slices until `done` (at most 10 s).
  void serveUntil(const std::function<bool()>& done) {
    const auto limit = desktop->now() + Seconds(10);
    while (!done() && desktop->now() < limit) desktop->runUntil(desktop->now() + Seconds(0.01));
  }
  BusReply serve(std::future<BusReply>& reply) {
    serveUntil(
        [&] { return reply.wait_for(std::chrono::seconds(0)) == std::future_status::ready; });
    return reply.get();
  }

  test_support::TempDirectory directory;
  testing::PrivateBus bus{directory.path()};
  RecordingProvider provider;
  std::unique_ptr<Desktop> desktop;
};

TEST_F(ServicesBusTest, PasteboardKeysReachConvert) {
  using Paths = std::vector<std::string>;
  const struct {
    const char* name;
    BusPasteboard pasteboard;
    Seen expected;
  } cases[] = {
      {"file URLs, other URLs skipped",
       {{"public.file-url", Paths{"file:///tmp/a%20b.wav", "https://example.com/x"}}},
       {Paths{"file:///tmp/a%20b.wav"}, std::nullopt, "mp3"}},
      {"filename list",
       {{"NSFilenamesPboardType", Paths{"/a b", "/c"}}},
       {std::nullopt, Pasteboard::FilenamesValue{Paths{"/a b", "/c"}}, "mp3"}},
      {"filenames of another kind",
       {{"NSFilenamesPboardType", std::string("/a")}},
       {std::nullopt, Pasteboard::FilenamesValue{std::nullopt}, "mp3"}},
      {"an empty file URL list is a list",
       {{"public.file-url", Paths{}}},
       {Paths{}, std::nullopt, "mp3"}},
      {"a text that is no URL",
       {{"public.file-url", Paths{"not a url"}}},
       {std::nullopt, std::nullopt, "mp3"}},
      {"unknown keys ignored",
       {{"public.utf8-plain-text", std::string("x")}},
       {std::nullopt, std::nullopt, "mp3"}},
      {"nothing", {}, {std::nullopt, std::nullopt, "mp3"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    provider.seen.clear();
    auto reply = call(c.pasteboard);
    EXPECT_TRUE(serve(reply).ok());
    ASSERT_EQ(provider.seen.size(), 1u);
    EXPECT_TRUE(provider.seen[0] == c.expected);
  }
}

TEST_F(ServicesBusTest, FailureIsTheFailedErrorWithTheSentenceExactly) {
  const std::string sentence = "Tonebrook could not launch: 100% %s \xe2\x80\x93 no.";
  provider.behaviour = [&](std::optional<std::string>& error) { error = sentence; };
  auto reply = call({{"public.file-url", std::vector<std::string>{"file:///a"}}});
  const BusReply answer = serve(reply);
  EXPECT_EQ(answer.errorName, "app.tonebrook.Services.Failed");
  EXPECT_EQ(answer.errorMessage, sentence);
}

// The bus refuses a message whose text is not UTF-8; the caller would wait for nothing. A file
// name in Latin-1 reaches the sentence this way.
TEST_F(ServicesBusTest, ASentenceThatIsNotUtf8ArrivesWithReplacementCharacters) {
  provider.behaviour = [](std::optional<std::string>& error) {
    error =
        "Tonebrook cannot read \u201C"
        "caf\xe9.wav\u201D.";
  };
  auto reply = call({{"public.file-url", std::vector<std::string>{"file:///caf%E9.wav"}}});
  const BusReply answer = serve(reply);
  EXPECT_EQ(answer.errorName, "app.tonebrook.Services.Failed");
  EXPECT_EQ(answer.errorMessage,
            "Tonebrook cannot read \u201C"
            "caf\uFFFD.wav\u201D.");
}

TEST_F(ServicesBusTest, FileUrlsOfAnotherKindAreRefusedBeforeConvert) {
  auto reply = call({{"public.file-url", std::string("file:///a")}});
  EXPECT_EQ(serve(reply).errorName, "org.freedesktop.DBus.Error.InvalidArgs");
  EXPECT_TRUE(provider.seen.empty());
}

TEST_F(ServicesBusTest, ACallDuringANestedWaitReachesConvertAndIsAnsweredAtOnce) {
  std::atomic<bool> busy = false;
  std::atomic<bool> waiting = false;
  provider.behaviour = [&](std::optional<std::string>& error) {
    if (busy) {
      error = kBusy;
      return;
    }
    busy = true;
    waiting = true;
    desktop->runUntil(desktop->now() + Seconds(1));  // the delivery's wait
    busy = false;
  };
  auto first = call({{"public.file-url", std::vector<std::string>{"file:///first"}}});
  std::future<BusReply> second;
  std::chrono::steady_clock::time_point secondSent;
  bool secondAnsweredDuringWait = false;
  std::thread driver([&] {
    while (!waiting) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    secondSent = std::chrono::steady_clock::now();
    second = call({{"public.file-url", std::vector<std::string>{"file:///second"}}}, "wav");
    second.wait();
    secondAnsweredDuringWait = busy;  // read while the first convert still waits
  });
  const BusReply firstAnswer = serve(first);
  driver.join();
  const BusReply secondAnswer = second.get();
  EXPECT_TRUE(firstAnswer.ok()) << firstAnswer.errorMessage;
  EXPECT_EQ(secondAnswer.errorName, "app.tonebrook.Services.Failed");
  EXPECT_EQ(secondAnswer.errorMessage, kBusy);
  EXPECT_TRUE(secondAnsweredDuringWait);
  ASSERT_EQ(provider.seen.size(), 2u);
  EXPECT_EQ(provider.seen[1].userData, "wav");
}

TEST_F(ServicesBusTest, ATakenNameIsSilentAndOtherNamesStillServe) {
  testing::BusNameOwner owner(bus.address(), "app.tonebrook.Taken");
  EXPECT_NO_THROW(desktop->registerServicesProvider(provider, "app.tonebrook.Taken"));
  EXPECT_NO_THROW(desktop->registerServicesProvider(provider, "not a bus name"));
  auto reply = call({});
  EXPECT_TRUE(serve(reply).ok());
}

// A provider process in a bundle, started by the bus on the first call: it finds its main
// bundle through its executable, requests the NSPortName of its Info and connects through the
// address the bus started it with (its session address points nowhere).
TEST(ServicesActivation, TheBusStartsABundledProviderUnderItsDeclaredPortName) {
  constexpr const char* kDeclared = "app.tonebrook.DesktopTestActivated";
  test_support::TempDirectory directory;
  const auto bundle = directory.path() / "Provider.service";
  testing::writeText(bundle / "Contents" / "Info.plist",
                     "<plist version=\"1.0\"><dict><key>CFBundleExecutable</key>"
                     "<string>Provider</string><key>NSServices</key><array><dict>"
                     "<key>NSPortName</key><string>" +
                         std::string(kDeclared) + "</string></dict></array></dict></plist>");
  const auto executable = bundle / "Contents" / "MacOS" / "Provider";
  std::filesystem::create_directories(executable.parent_path());
  std::filesystem::copy_file(DESKTOP_SERVICES_APP, executable);
  testing::writeText(
      directory.path() / "services" / "activated.service",
      "[D-BUS Service]\nName=" + std::string(kDeclared) + "\nExec=" + executable.string() + "\n");
  testing::useSessionBusAddress("unix:path=" + (directory.path() / "nowhere").string());
  testing::PrivateBus bus(directory.path(), directory.path() / "services");

  const BusReply answer = callConvert(bus.address(), kDeclared, {}, "flac", Seconds(10));
  EXPECT_EQ(answer.errorName, "app.tonebrook.Services.Failed");
  EXPECT_EQ(answer.errorMessage,
            "main bundle " + std::filesystem::canonical(bundle).string() + " user data flac");
  EXPECT_TRUE(callConvert(bus.address(), kDeclared, {}, "quit", Seconds(10)).ok());
}

// A call taken off the bus waits in posted work; a retirement tick that terminates first must
// still answer it (the provider's convert refuses a retiring provider's work with a sentence),
// or the caller is left with NoReply.
TEST(ServicesTermination, ACallTakenOffTheBusIsAnsweredBeforeTheProcessEnds) {
  constexpr const char* kWaiting = "app.tonebrook.DesktopTestWaiting";
  test_support::TempDirectory directory;
  testing::PrivateBus bus(directory.path());
  bus.useAsSessionBus();
  SpawnOptions options;
  options.arguments = {DESKTOP_SERVICES_APP, "--terminate-with-a-call-waiting", kWaiting};
  options.output = StreamTarget::toFile(directory.path() / "out");
  ChildProcess app = ChildProcess::spawn(options);
  const auto ready = [&] {
    std::ifstream stream(directory.path() / "out");
    std::string line;
    return std::getline(stream, line) && line == "ready";
  };
  const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!ready() && std::chrono::steady_clock::now() < limit) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ASSERT_TRUE(ready());

  const BusReply answer = callConvert(bus.address(), kWaiting, {}, "mp3", Seconds(10));
  EXPECT_EQ(answer.errorName, "app.tonebrook.Services.Failed");
  EXPECT_NE(answer.errorMessage.find("user data mp3"), std::string::npos) << answer.errorMessage;
  EXPECT_EQ(app.waitFor(Seconds(5)), 0);
}

TEST(ServicesWithoutBus, RegistrationIsSilentAndTheLoopRuns) {
  test_support::TempDirectory directory;
  testing::useSessionBusAddress("unix:path=" + (directory.path() / "none").string());
  auto desktop = makeDesktop(0, nullptr);
  RecordingProvider provider;
  EXPECT_NO_THROW(desktop->setServicesProvider(provider));
  EXPECT_NO_THROW(desktop->registerServicesProvider(provider, kName));
  desktop->runUntil(desktop->now() + Seconds(0.01));
}

}  // namespace
}  // namespace platform
