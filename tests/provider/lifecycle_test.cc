// Creation, the retirement timer (heartbeat on every tick, retirement only when idle) and
// destruction of the provider.

#include <gtest/gtest.h>

#include <chrono>

#include "exchange/constants.h"
#include "exchange/record_files.h"
#include "support/test_support.h"
#include "tests/provider/provider_fixture.h"

namespace provider_test {
namespace {

namespace fs = std::filesystem;
using platform::Seconds;
using platform::testing::LaunchOutcome;

class Lifecycle : public ProviderTest {
 protected:
  fs::path stateFile() const { return sandbox.root() / FinderConversion::names::kProviderState; }
  // heartbeatWithin: the state file, once removed, is back within `time`.
  bool heartbeatWithin(Seconds time) {
    fs::remove(stateFile());
    desktop.runUntil(desktop.now() + time);
    return fs::exists(stateFile());
  }
};

TEST_F(Lifecycle, CreationStandardisesTheExecutableAndReadsThePayloadVersion) {
  fs::path winding = sandbox.directory() / "Provider/../Provider/./TonebrookQuickConversion";
  desktop.setArguments({winding.string()});
  auto provider = makeProvider();
  EXPECT_EQ(provider->lifetime().executable(), sandbox.providerExecutable());
  EXPECT_EQ(provider->lifetime().payloadVersion(), "7.1");
  EXPECT_EQ(provider->root(), sandbox.root());
  EXPECT_FALSE(provider->verification());
  EXPECT_TRUE(fs::exists(stateFile()));
}

TEST_F(Lifecycle, RelativeProgramPathCountsFromTheCurrentDirectory) {
  const fs::path previous = fs::current_path();
  fs::current_path(sandbox.directory());
  desktop.setArguments({"Provider/TonebrookQuickConversion"});
  desktop.setMainBundleInfoString("CFBundleVersion", std::nullopt);
  auto provider = makeProvider();
  fs::current_path(previous);
  EXPECT_EQ(provider->lifetime().executable(), sandbox.providerExecutable());
  EXPECT_EQ(provider->lifetime().payloadVersion(), "unknown");
}

TEST_F(Lifecycle, SecondProviderOnTheRootFailsWithTheLifetimesError) {
  auto first = makeProvider();
  std::string expected;
  try {
    FinderProviderLifetime competing(sandbox.root(), sandbox.providerExecutable());
  } catch (const platform::Error& error) {
    expected = error.description();
  }
  ASSERT_FALSE(expected.empty());
  try {
    makeProvider();
    ADD_FAILURE() << "a second provider came into being";
  } catch (const platform::Error& error) {
    EXPECT_EQ(error.description(), expected);
  }
}

// A writer killed between its temporary file and the rename leaves a hidden file for good. The
// provider removes its own (heartbeat, error record, queued requests) once they are a minute
// old; younger ones may belong to a writer still at work, and other parties' are theirs.
TEST_F(Lifecycle, CreationRemovesItsOwnStaleTemporaryFiles) {
  const fs::path root = sandbox.root();
  const std::string request = ".0A1B2C3D-4E5F-4061-8293-A4B5C6D7E8F9.json";
  const std::vector<test_support::LeftFile> cases = {
      {"an old heartbeat", root / ".provider-state.json.tmp-Ab12Cd", true, true},
      {"an old error record", root / ".provider-error.json.tmp-Ab12Cd", true, true},
      {"an old request", root / "requests" / (request + ".tmp-Ab12Cd"), true, true},
      {"a young heartbeat", root / ".provider-state.json.tmp-Ef34Gh", false, false},
      {"the installer's receipt", root / ".receipt.json.tmp-Ab12Cd", true, false},
      {"the host's acknowledgement", root / "acknowledgements" / (request + ".tmp-Ab12Cd"), true,
       false},
      {"not a temporary name", root / "requests" / (request + ".tmp-Ab12Cd.keep"), true, false},
  };
  test_support::leaveFiles(cases);
  auto provider = makeProvider();
  test_support::expectRemovedAsMeant(cases);
}

TEST_F(Lifecycle, HeartbeatOnEveryTickAndAfterAFailedOne) {
  auto provider = makeProvider();
  EXPECT_FALSE(heartbeatWithin(Seconds(0.19)));  // the first tick comes 0.2 s after creation
  EXPECT_TRUE(heartbeatWithin(Seconds(0.02)));
  for (int tick = 0; tick < 3; ++tick) EXPECT_TRUE(heartbeatWithin(Seconds(0.2)));
  // A directory in its place makes the next heartbeats fail; the timer goes on regardless.
  fs::remove(stateFile());
  fs::create_directory(stateFile());
  desktop.runUntil(desktop.now() + Seconds(0.5));
  fs::remove(stateFile());
  EXPECT_TRUE(heartbeatWithin(Seconds(0.2)));
  EXPECT_EQ(desktop.terminateRequests(), 0);
}

TEST_F(Lifecycle, RetiresOnTheFirstIdleTickOnly) {
  auto provider = makeProvider();
  bool heartbeatWhileBusy = false;
  int terminationsWhileBusy = -1;
  after(desktop, Seconds(1), [&] {
    fs::remove(sandbox.providerExecutable());  // now shouldRetire holds
    fs::remove(stateFile());
  });
  after(desktop, Seconds(1.5), [&] {
    heartbeatWhileBusy = fs::exists(stateFile());
    terminationsWhileBusy = desktop.terminateRequests();
  });
  after(desktop, Seconds(2), [&] { sandbox.answer(true); });
  desktop.scriptLaunch(LaunchOutcome::sameCopy(Seconds(12)));  // in flight past the delivery

  EXPECT_EQ(convert(*provider, {sandbox.audio("a.wav")}), std::nullopt);
  EXPECT_TRUE(heartbeatWhileBusy);
  EXPECT_EQ(terminationsWhileBusy, 0);
  EXPECT_TRUE(provider->launchInFlight());

  desktop.runUntil(desktop.now() + Seconds(5));
  EXPECT_EQ(desktop.terminateRequests(), 0);  // the launch is still outstanding
  desktop.runUntil(desktop.now() + Seconds(6));
  EXPECT_FALSE(provider->launchInFlight());
  EXPECT_GE(desktop.terminateRequests(), 1);
}

// A provider started from a package that was swapped out before it took its executable's
// identity runs the old program from a package that is gone, yet its executable looks
// unchanged: before, it served, and its delivery failed with the vanished package's path. It
// now refuses like a retiring provider and ends at its first idle tick.
TEST_F(Lifecycle, ProviderWhoseProgramWasReplacedWhileStartingServesNobodyAndEnds) {
  desktop.setRunsExecutable(false);
  auto provider = makeProvider();
  EXPECT_EQ(convert(*provider, {sandbox.audio("a.wav")}), kFinishingUpdateSentence);
  EXPECT_TRUE(sandbox.queued().empty());
  desktop.runUntil(desktop.now() + Seconds(0.2));
  EXPECT_EQ(desktop.terminateRequests(), 1);
}

TEST_F(Lifecycle, RetiringProviderRefusesWorkAndReportsItInVerification) {
  auto provider = makeProvider(/*verification=*/true);
  fs::remove(sandbox.providerExecutable());
  EXPECT_EQ(convert(*provider, {sandbox.audio("a.wav")}), kFinishingUpdateSentence);
  EXPECT_EQ(sandbox.providerError(), kFinishingUpdateSentence);
  EXPECT_TRUE(sandbox.queued().empty());
  EXPECT_FALSE(provider->busy());
}

TEST_F(Lifecycle, FailureOutsideVerificationWritesNoFileAndSuccessKeepsAnOldOne) {
  auto provider = makeProvider();
  fs::remove(sandbox.root() / "receipt.json");
  EXPECT_NE(convert(*provider, {sandbox.audio("a.wav")}), std::nullopt);
  EXPECT_EQ(sandbox.providerError(), std::nullopt);
}

TEST_F(Lifecycle, SuccessInVerificationLeavesAnEarlierErrorFile) {
  auto provider = makeProvider(/*verification=*/true);
  FinderConversion::write(std::string_view("earlier"),
                          sandbox.root() / FinderConversion::names::kProviderError);
  after(desktop, Seconds(0.5), [&] { sandbox.answer(true); });
  EXPECT_EQ(convert(*provider, {sandbox.audio("a.wav")}), std::nullopt);
  EXPECT_EQ(sandbox.providerError(), "earlier");
}

TEST_F(Lifecycle, DestructionStopsTheTimerAndReleasesTheLock) {
  auto provider = makeProvider();
  std::weak_ptr<Provider> watch = provider;
  provider.reset();
  EXPECT_TRUE(watch.expired());  // the timer held it only weakly
  EXPECT_FALSE(heartbeatWithin(Seconds(1)));
  EXPECT_NO_THROW(makeProvider());
}

}  // namespace
}  // namespace provider_test
