// Races between real processes on one state root and one private bus: providers started
// together, deliveries during updates, and many calls at once.
#include <chrono>
#include <future>
#include <iostream>
#include <latch>
#include <map>
#include <thread>

#include "exchange/record_files.h"
#include "lifetime/finder_provider_lifetime.h"
#include "platform/core/services_names.h"
#include "platform/core/url.h"
#include "platform/testing/processes.h"
#include "provider/provider.h"
#include "tests/stress/stress_fixture.h"

namespace stress {
namespace {

class Races : public Stress {
 protected:
  platform::testing::BusReply callThroughTheBus(const fs::path& file) {
    return platform::testing::callConvert(
        busAddress(), std::string(platform::kAddOnPortName),
        {{"public.file-url", std::vector<std::string>{platform::Url::fromFilePath(file).text()}}},
        "mp3");
  }

  // The requests that reached the queue since the ledger was last read.
  std::size_t newRequests(std::size_t before) {
    ledger().update();
    return ledger().ids().size() - before;
  }
};

// Providers started together on one state root: the provider lock lets exactly one stay, the
// others end at once with the lock sentence, and the one left serves the bus.
TEST_F(Races, TwentyProvidersStartedAtOnceLeaveExactlyOneThatServes) {
  constexpr int kProviders = 20;
  std::vector<std::unique_ptr<e2e::Program>> providers;
  for (int i = 0; i < kProviders; ++i) providers.push_back(start({installedProvider().string()}));
  for (const auto& provider : providers) rememberProvider(provider->pid());

  std::vector<int> running;
  int refused = 0;
  for (const auto& provider : providers) {
    const std::optional<int> status = provider->waitFor(platform::Seconds(5));
    if (!status) {
      running.push_back(provider->pid());
      continue;
    }
    EXPECT_EQ(*status, 1);
    EXPECT_EQ(provider->errors(),
              std::string(FinderProviderLifetime::kProviderRunningSentence) + "\n");
    ++refused;
  }
  ASSERT_EQ(running.size(), 1u);
  EXPECT_EQ(refused, kProviders - 1);
  EXPECT_EQ(providerPid(), running.front());

  prepareAudio(0.5);
  const platform::testing::BusReply reply = callThroughTheBus(input("served"));
  EXPECT_TRUE(reply.ok()) << reply.errorName << ": " << reply.errorMessage;
  EXPECT_EQ(platform::testing::processesRunning(installedProvider()), running)
      << "the one left served it; the bus started no other";
}

// Calls made while the add-on is updated end in success or in a sentence that is right for
// the moment they met; none is lost, queued twice or converted twice:
//   - "finishing an update": the provider was asked to retire, or its package was replaced;
//   - the lock sentence: the installer held the lifecycle lock while it replaced the package;
//   - "could not be started": the bus started a provider from a package being swapped, or
//     while the retiring one still held the provider lock, and the client's one retry met the
//     same.
// The installer itself may meet a delivery holding the lifecycle lock, or a provider kept busy
// past its wait for the retirement; it says so and is run again.
TEST_F(Races, DeliveriesDuringUpdatesEndInSuccessOrASentenceAndNothingIsQueuedTwice) {
  constexpr int kUpdates = 8;
  constexpr int kCallsPerUpdate = 4;
  prepareAudio(0.5);
  const std::set<std::string> allowed = {
      std::string(kFinishingUpdateSentence),
      std::string(FinderConversion::kLockHeldSentence),
      kNotStartedSentence,
  };
  const std::map<std::string, fs::path> packages = {{"1.0.0", builtPackage()},
                                                    {"2.0.0", packageWithVersion("2.0.0")}};
  Tally calls;
  Tally installs;
  int served = 0;
  for (int update = 1; update <= kUpdates; ++update) {
    SCOPED_TRACE("update " + std::to_string(update));
    const std::string version = update % 2 == 1 ? "2.0.0" : "1.0.0";
    std::vector<std::future<RunResult>> delivered;
    std::vector<std::string> stems;
    auto installer = start({host().string(), "--install-addon", packages.at(version).string()});
    for (int call = 0; call < kCallsPerUpdate; ++call) {
      stems.push_back("u" + std::to_string(update) + "-" + std::to_string(call));
      const fs::path file = input(stems.back());
      delivered.push_back(std::async(std::launch::async, [this, file] { return convert({file}); }));
      std::this_thread::sleep_for(std::chrono::milliseconds(moment(0, 120)));
    }
    for (std::size_t call = 0; call < delivered.size(); ++call) {
      const RunResult result = delivered[call].get();
      const std::string sentence = result.errors.substr(0, result.errors.find('\n'));
      if (result.status == 0) {
        ++served;
        calls.add("success");
      } else {
        EXPECT_TRUE(allowed.contains(sentence)) << stems[call] << ": " << result.errors;
        calls.add(sentence);
      }
    }
    std::optional<int> status = installer->waitFor(platform::Seconds(30));
    for (int again = 0; status != 0 && again < 5; ++again) {
      const std::string sentence = installer->errors().substr(0, installer->errors().find('\n'));
      EXPECT_TRUE(sentence == FinderConversion::kLockHeldSentence ||
                  sentence == FinderProviderLifetime::kProviderStillRetiringSentence)
          << installer->errors();
      installs.add("run again after: " + sentence);
      std::this_thread::sleep_for(std::chrono::milliseconds(200));
      installer = start({host().string(), "--install-addon", packages.at(version).string()});
      status = installer->waitFor(platform::Seconds(30));
    }
    ASSERT_EQ(status, 0) << installer->errors();
    installs.add("updated");
  }
  ledger().update();
  EXPECT_EQ(ledger().ids().size(), static_cast<std::size_t>(served))
      << "one request for each call that was served, none for the others";
  settleAndCheck(60);
  calls.print("calls during updates");
  installs.print("installers");
}

// Thirty calls at once through the bus reach one provider: it serves one delivery at a time
// and refuses the calls that arrive meanwhile at once with the busy sentence, queuing nothing
// for them.
TEST_F(Races, ThirtyCallsAtOnceAreServedOneAtATimeAndTheRestRefusedAtOnce) {
  constexpr int kCalls = 30;
  prepareAudio(0.5);
  ASSERT_TRUE(callThroughTheBus(input("warm")).ok());  // the provider and the host run
  if (const std::optional<int> pid = providerPid()) rememberProvider(*pid);
  ledger().update();
  const std::size_t before = ledger().ids().size();

  std::vector<fs::path> files;
  for (int i = 0; i < kCalls; ++i) files.push_back(input("c" + std::to_string(i)));
  std::latch go(kCalls);
  std::vector<std::future<platform::testing::BusReply>> replies;
  for (const fs::path& file : files) {
    replies.push_back(std::async(std::launch::async, [&, file] {
      go.arrive_and_wait();
      return callThroughTheBus(file);
    }));
  }
  int served = 0;
  for (std::size_t i = 0; i < replies.size(); ++i) {
    const platform::testing::BusReply reply = replies[i].get();
    if (reply.ok()) {
      ++served;
      mustConvert(files[i].stem().string());
      continue;
    }
    EXPECT_EQ(reply.errorName, "app.tonebrook.Services.Failed") << files[i];
    EXPECT_EQ(reply.errorMessage, kFinishingUpdateSentence) << files[i];
  }
  EXPECT_GE(served, 1);
  EXPECT_LT(served, kCalls) << "the calls did not meet";
  EXPECT_EQ(newRequests(before), static_cast<std::size_t>(served)) << "queued once per served call";
  settleAndCheck(60);
  std::cout << "thirty calls at once: " << served << " served, " << kCalls - served
            << " refused with the busy sentence" << std::endl;
}

}  // namespace
}  // namespace stress
