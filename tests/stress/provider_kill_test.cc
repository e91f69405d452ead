// The provider killed at random moments of deliveries, each call in flight through the Services
// client or straight through the bus; after every kill the state root is checked and the next
// call must be served.
#include <algorithm>
#include <future>
#include <thread>

#include "exchange/record_files.h"
#include "platform/core/services_names.h"
#include "platform/core/url.h"
#include "platform/testing/processes.h"
#include "tests/stress/stress_fixture.h"

namespace stress {
namespace {

constexpr int kDefaultRounds = 150;
// The kill comes this long after the call at most: a whole delivery, with a provider to start
// and a host to launch, takes about 100 ms here, so some kills land after it too.
constexpr int kLatestKillMilliseconds = 200;

// CallOutcome: how the killed call ended, as its caller saw it.
struct CallOutcome {
  bool served = false;
  std::string heard;  // the sentence or bus error, empty when served
};

class ProviderKills : public Stress {
 protected:
  // callInFlight starts one call for `file`, through the client or the bus.
  std::future<CallOutcome> callInFlight(const fs::path& file, bool throughClient) {
    if (throughClient) {
      return std::async(std::launch::async, [this, file] {
        const RunResult result = convert({file});
        return CallOutcome{result.status == 0, result.errors.substr(0, result.errors.find('\n'))};
      });
    }
    const std::string url = platform::Url::fromFilePath(file).text();
    return std::async(std::launch::async, [address = busAddress(), url] {
      const platform::testing::BusReply reply = platform::testing::callConvert(
          address, std::string(platform::kAddOnPortName),
          {{"public.file-url", std::vector<std::string>{url}}}, "mp3");
      return CallOutcome{reply.ok(), reply.errorName};
    });
  }

  // waitForTheMoment waits `milliseconds`, or, for a kill aimed at the queue, until the call's
  // request appears there (looked for every millisecond) or the call ends.
  void waitForTheMoment(int milliseconds, bool atTheQueue, std::size_t idsBefore,
                        std::future<CallOutcome>& call) {
    if (!atTheQueue) {
      std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
      return;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (std::chrono::steady_clock::now() < deadline &&
           call.wait_for(std::chrono::milliseconds(1)) != std::future_status::ready) {
      ledger().update();
      if (ledger().ids().size() > idsBefore) return;
    }
  }

  // killProvider kills the running provider, or the one about to run when it is still being
  // started; false when none ever ran (the call had ended without one). `beforeHeartbeat`: the
  // killed provider had not yet written its first heartbeat.
  bool killProvider(std::future<CallOutcome>& call, bool& beforeHeartbeat) {
    waitFor(
        [&] {
          return !platform::testing::processesRunning(installedProvider()).empty() ||
                 call.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
        },
        10);
    const std::vector<int> running = platform::testing::processesRunning(installedProvider());
    if (killEach(installedProvider()) == 0) return false;
    const std::optional<int> heartbeat = providerPid();
    beforeHeartbeat =
        !heartbeat || std::find(running.begin(), running.end(), *heartbeat) == running.end();
    return true;
  }
};

// where: the place in the delivery the kill landed, told from the heartbeat, from what the
// caller heard and from whether the call's request reached the queue.
std::string where(bool beforeHeartbeat, bool queued, const CallOutcome& outcome) {
  if (beforeHeartbeat) return "as the provider was starting, before its first heartbeat";
  if (outcome.served) return "after the call was answered (idle provider)";
  if (!queued) return "during the checks, before the request was queued";
  return "after the request was queued, while waiting for the acknowledgement";
}

TEST_F(ProviderKills, EveryKillLeavesReadableRecordsFreeLocksAndNoLostRequest) {
  beginRun("provider kills", kDefaultRounds);
  prepareAudio(0.5);
  Tally landed;
  Tally heard;
  Tally next;
  for (int round = 1; round <= rounds(); ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    const bool throughClient = round % 2 == 1;
    // Every other call starts its provider: the one the last call left is killed while idle.
    if (round % 4 < 2 && killEach(installedProvider()) > 0) {
      landed.add("idle, between calls");
      audit("after the idle kill " + std::to_string(round), true);
    }
    ledger().update();
    const std::size_t idsBefore = ledger().ids().size();
    const std::string killed = "killed-" + std::to_string(round);
    // A quarter of the kills are aimed at the moment the request lands in the queue; the rest
    // come at a random time.
    const int delay = moment(0, kLatestKillMilliseconds);
    const bool atTheQueue = chance(0.25);
    std::future<CallOutcome> call = callInFlight(input(killed), throughClient);
    waitForTheMoment(delay, atTheQueue, idsBefore, call);
    bool beforeHeartbeat = false;
    if (!killProvider(call, beforeHeartbeat)) {
      landed.add("never: the call ended without a provider");
      continue;
    }
    const CallOutcome outcome = call.get();
    ledger().update();
    const bool queued = ledger().ids().size() > idsBefore;
    if (queued) mustConvert(killed);
    landed.add(where(beforeHeartbeat, queued, outcome));
    heard.add(std::string(throughClient ? "client: " : "bus: ") +
              (outcome.served ? "success" : outcome.heard));

    audit("after kill " + std::to_string(round),
          platform::testing::processesRunning(installedProvider()).empty());
    convertUntilServed({input("next-" + std::to_string(round))},
                       {std::string(FinderConversion::kLockHeldSentence)}, next);
    if (HasFailure()) break;
  }
  settleAndCheck(60);
  landed.print("provider kills, where they landed");
  heard.print("provider kills, what the killed call's caller heard");
  next.print("the call after each kill");
}

}  // namespace
}  // namespace stress
