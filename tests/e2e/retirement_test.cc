// A provider that retires while a call is on its way to it answers the call before it ends.
#include <chrono>
#include <future>
#include <thread>

#include "exchange/record_files.h"
#include "lifetime/finder_provider_lifetime.h"
#include "platform/core/services_names.h"
#include "platform/core/url.h"
#include "provider/provider.h"
#include "tests/e2e/e2e_fixture.h"

namespace e2e {
namespace {

class Retirement : public EndToEnd {
 protected:
  void SetUp() override {
    EndToEnd::SetUp();
    install(builtPackage());
    startBus();
  }

  std::future<platform::testing::BusReply> callInFlight(const fs::path& file) {
    const std::string url = platform::Url::fromFilePath(file).text();
    return std::async(std::launch::async, [address = busAddress(), url] {
      return platform::testing::callConvert(address, std::string(platform::kAddOnPortName),
                                            {{"public.file-url", std::vector<std::string>{url}}},
                                            "mp3");
    });
  }
};

// The call lands in the provider's connection while its retirement tick is due: before, the
// tick ended the process with the call unread and the caller heard NoReply ("did not answer in
// time"), not knowing whether anything was queued. The provider stands still (SIGSTOP) while the
// request to retire is written and the call arrives, so both are waiting when it goes on.
TEST_F(Retirement, ACallArrivingAsTheProviderRetiresGetsTheBusySentence) {
  const fs::path file = audioFile("tone.wav");
  ASSERT_TRUE(callInFlight(file).get().ok());
  const std::optional<int> provider = providerPid();
  ASSERT_TRUE(provider);
  rememberProvider(*provider);
  const auto state = FinderConversion::read<FinderProviderLifetime::State>(
      stateRoot() / FinderConversion::names::kProviderState);

  // Idle by now: stopped in its wait, it sees the call and its due tick together.
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  platform::testing::sendSignal(*provider, platform::testing::kSignalStop);
  FinderConversion::write(state.instance.text(),
                          stateRoot() / FinderConversion::names::kProviderRetire);
  std::future<platform::testing::BusReply> call = callInFlight(file);
  std::this_thread::sleep_for(std::chrono::milliseconds(500));  // the call is in its queue
  platform::testing::sendSignal(*provider, platform::testing::kSignalContinue);

  const platform::testing::BusReply reply = call.get();
  EXPECT_EQ(reply.errorName, "app.tonebrook.Services.Failed");
  EXPECT_EQ(reply.errorMessage, kFinishingUpdateSentence);
  EXPECT_TRUE(waitFor([&] { return !platform::testing::processAlive(*provider); }, 5));

  // The next call starts the next provider.
  const platform::testing::BusReply next = callInFlight(file).get();
  EXPECT_TRUE(next.ok()) << next.errorName << ": " << next.errorMessage;
  if (const std::optional<int> pid = providerPid()) rememberProvider(*pid);
}

}  // namespace
}  // namespace e2e
