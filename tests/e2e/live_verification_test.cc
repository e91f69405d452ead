// The provider executable in live verification, called over a private session bus.
#include <chrono>
#include <future>

#include "exchange/record_files.h"
#include "platform/core/url.h"
#include "tests/e2e/e2e_fixture.h"

namespace e2e {
namespace {

using platform::testing::BusPasteboard;
using platform::testing::BusReply;

constexpr const char* kPortName = "test.tonebrook.LiveVerification";
constexpr const char* kFailedError = "app.tonebrook.Services.Failed";

class LiveVerification : public EndToEnd {
 protected:
  void SetUp() override {
    EndToEnd::SetUp();
    install(builtPackage());
    startBus();
  }

  void startProvider(std::vector<std::string> extra = {}) {
    std::vector<std::string> arguments{installedProvider().string(), "--verify-live-provider",
                                       stateRoot().string(), kPortName};
    arguments.insert(arguments.end(), extra.begin(), extra.end());
    provider_ = start(arguments);
  }

  static BusPasteboard filesOf(const std::vector<fs::path>& files) {
    std::vector<std::string> urls;
    for (const fs::path& file : files) urls.push_back(platform::Url::fromFilePath(file).text());
    return {{"public.file-url", urls}};
  }

  // convert calls the provider under its port name, retrying only while the bus says that
  // nobody owns the name yet (the provider is still starting).
  BusReply convert(const BusPasteboard& pasteboard, const std::string& userData) {
    BusReply reply;
    waitFor(
        [&] {
          reply = platform::testing::callConvert(busAddress(), kPortName, pasteboard, userData);
          return reply.errorName != "org.freedesktop.DBus.Error.ServiceUnknown" &&
                 reply.errorName != "org.freedesktop.DBus.Error.NameHasNoOwner";
        },
        10);
    return reply;
  }

  std::unique_ptr<Program> provider_;
};

TEST_F(LiveVerification, ServesACallThroughTheBus) {
  startProvider();
  const BusReply reply = convert(filesOf({audioFile("tone.wav")}), "mp3");
  EXPECT_TRUE(reply.ok()) << reply.errorName << ": " << reply.errorMessage;
  EXPECT_TRUE(fs::exists(stateRoot() / FinderConversion::names::kPackagedInbox));
  EXPECT_EQ(provider_->waitFor(platform::Seconds(0)), std::nullopt) << "it keeps serving";
}

TEST_F(LiveVerification, HostRefusalArrivesAsTheBusErrorWithItsSentence) {
  startProvider();
  const BusReply reply = convert(filesOf({home() / "Music" / "missing.wav"}), "mp3");
  EXPECT_EQ(reply.errorName, kFailedError);
  EXPECT_EQ(reply.errorMessage, "Tonebrook cannot read \u201Cmissing.wav\u201D.");
  EXPECT_EQ(FinderConversion::readDocument(stateRoot() / FinderConversion::names::kProviderError),
            FinderConversion::encode(reply.errorMessage));
}

// Standard streams of a provider are often /dev/null: its one trace is a log line per failed
// call with the request, here on standard error because this machine has no journal.
TEST_F(LiveVerification, FailedCallIsLoggedWithItsRequest) {
  if (journalRuns()) GTEST_SKIP() << "log lines go to the journal here";
  startProvider();
  const BusReply reply = convert(filesOf({home() / "Music" / "missing.wav"}), "mp3");
  ASSERT_EQ(reply.errorName, kFailedError);
  const fs::path answers = FinderConversion::acknowledgements(stateRoot());
  std::string id;
  for (const auto& entry : fs::directory_iterator(answers)) {
    if (!entry.path().filename().string().starts_with(".")) id = entry.path().stem().string();
  }
  ASSERT_FALSE(id.empty());
  EXPECT_EQ(provider_->errors(), "TonebrookQuickConversion: Conversion not delivered: " +
                                     reply.errorMessage + " (request " + id + ")\n");
}

TEST_F(LiveVerification, SecondCallDuringTheWaitIsRefusedAtOnce) {
  startProvider({"--verify-hold-callback", "3"});
  const BusPasteboard files = filesOf({audioFile("tone.wav")});
  auto first = std::async(std::launch::async, [&] { return convert(files, "mp3"); });
  // The request is queued before the pause: from then on the first delivery is waiting.
  const fs::path queue = FinderConversion::requests(stateRoot());
  ASSERT_TRUE(waitFor([&] { return fs::exists(queue) && !fs::is_empty(queue); }, 10));

  const auto before = std::chrono::steady_clock::now();
  const BusReply second = platform::testing::callConvert(busAddress(), kPortName, files, "mp3");
  const std::chrono::duration<double> took = std::chrono::steady_clock::now() - before;
  EXPECT_EQ(second.errorName, kFailedError);
  EXPECT_EQ(second.errorMessage,
            "The conversion add-on is finishing an update. Retry in a moment.");
  EXPECT_LT(took.count(), 1.0);

  const BusReply firstReply = first.get();
  EXPECT_TRUE(firstReply.ok()) << firstReply.errorName << ": " << firstReply.errorMessage;
}

}  // namespace
}  // namespace e2e
