// The outcomes of one Services call, each with its sentence and what it leaves on disk.

#include <gtest/gtest.h>

#include <system_error>

#include "exchange/record_files.h"
#include "provider/confirmation.h"
#include "provider/host_launch.h"
#include "tests/provider/provider_fixture.h"

namespace provider_test {
namespace {

namespace fs = std::filesystem;
using FinderConversion::Acknowledgement;
using platform::Seconds;
using platform::testing::LaunchOutcome;

const std::string couldNotLaunch(provider::kCouldNotLaunchPrefix);

using Outcome = ProviderTest;

TEST_F(Outcome, AcceptedByTheLaunchedHost) {
  auto provider = makeProvider();
  after(desktop, Seconds(1), [&] { sandbox.answer(true); });
  const auto start = desktop.now();

  EXPECT_EQ(convert(*provider, {sandbox.audio("a.wav")}), std::nullopt);

  EXPECT_LT(desktop.now() - start, Seconds(1.1));  // found at the first poll after the answer
  ASSERT_EQ(desktop.launches().size(), 1u);
  EXPECT_EQ(desktop.launches()[0].application, sandbox.host());
  EXPECT_EQ(desktop.launches()[0].configuration,
            (platform::OpenConfiguration{false, true, {"--finder-service"}}));
  EXPECT_EQ(sandbox.queued().size(), 1u);  // the host takes it, not the provider
  EXPECT_TRUE(sandbox.rejected().empty());
  EXPECT_FALSE(provider->busy());
  EXPECT_FALSE(provider->launchInFlight());
  EXPECT_EQ(sandbox.providerError(), std::nullopt);
}

TEST_F(Outcome, RefusedWithTheHostsOwnSentence) {
  auto provider = makeProvider(/*verification=*/true);
  after(desktop, Seconds(0.5), [&] { sandbox.answer(false, "Tonebrook\u2019s queue is full."); });

  EXPECT_EQ(convert(*provider, {sandbox.audio("a.wav")}), "Tonebrook\u2019s queue is full.");
  EXPECT_EQ(sandbox.providerError(), "Tonebrook\u2019s queue is full.");
  EXPECT_EQ(sandbox.queued().size(), 1u);
  // The one trace a caller's failure leaves when nobody reads the sentence: one log line.
  EXPECT_EQ(desktop.logEntries(), (std::vector<platform::testing::LogEntry>{
                                      {platform::LogPriority::error,
                                       "Conversion not delivered: Tonebrook\u2019s queue is full.",
                                       sandbox.onlyQueuedRequest().id}}));
}

TEST_F(Outcome, AcceptanceCountsByFileNameAlone) {
  auto provider = makeProvider();
  after(desktop, Seconds(0.5), [&] {
    Acknowledgement answer;
    answer.id = platform::Uuid::random();  // not the request's
    answer.accepted = true;
    FinderConversion::write(answer, sandbox.acknowledgementOf(sandbox.onlyQueuedRequest().id));
  });
  EXPECT_EQ(convert(*provider, {sandbox.audio("a.wav")}), std::nullopt);
}

struct FailedLaunchCase {
  const char* name;
  std::function<LaunchOutcome(const Sandbox&)> outcome;
  std::string reason;
};

TEST_F(Outcome, FailedLaunchIsAnsweredByTheProviderAndRejected) {
  const std::system_error noThread(std::make_error_code(std::errc::resource_unavailable_try_again),
                                   "thread");
  const FailedLaunchCase cases[] = {
      {"refused on the spot",
       [](const Sandbox&) {
         return LaunchOutcome::throws(std::make_exception_ptr(
             platform::Error("Tonebrook.Launch", 2, "No such file or directory")));
       },
       "No such file or directory"},
      {"refused on the spot by another exception (a thread that cannot start)",
       [&](const Sandbox&) { return LaunchOutcome::throws(std::make_exception_ptr(noThread)); },
       noThread.what()},
      {"launch error",
       [](const Sandbox&) {
         return LaunchOutcome::failure(platform::Error("Tonebrook.Launch", 13, "Permission denied"),
                                       Seconds(0.3));
       },
       "Permission denied"},
      {"another copy",
       [](const Sandbox& s) {
         return LaunchOutcome::otherCopy(s.directory() / "Elsewhere/Tonebrook.app", Seconds(0.3));
       },
       std::string(provider::kDifferentCopySentence)},
  };
  for (const FailedLaunchCase& failed : cases) {
    SCOPED_TRACE(failed.name);
    Sandbox own;
    desktop.setArguments({own.providerExecutable().string()});
    desktop.setMainBundleURL(own.addOn());
    fs::create_directories(own.directory() / "Elsewhere");
    makeHostBundle(own.directory() / "Elsewhere/Tonebrook.app", "app.tonebrook.Tonebrook");
    auto provider = Provider::create(desktop, own.root(), false);
    desktop.scriptLaunch(failed.outcome(own));

    EXPECT_EQ(convert(*provider, {own.audio("a.wav")}), couldNotLaunch + failed.reason);

    ASSERT_EQ(own.rejected().size(), 1u);
    EXPECT_TRUE(own.queued().empty());
    auto request = FinderConversion::read<FinderConversion::Request>(own.rejected()[0]);
    EXPECT_EQ(own.rejected()[0].filename(), FinderConversion::fileName(request.id));
    auto refusal = FinderConversion::read<Acknowledgement>(own.acknowledgementOf(request.id));
    EXPECT_EQ(refusal.id, request.id);
    EXPECT_FALSE(refusal.accepted);
    EXPECT_EQ(refusal.message, couldNotLaunch + failed.reason);
    EXPECT_FALSE(refusal.terminal);
    EXPECT_TRUE(refusal.jobs.empty() && refusal.states.empty() && refusal.outputs.empty());
    EXPECT_FALSE(provider->launchInFlight());
    EXPECT_EQ(desktop.logEntries().back(),
              (platform::testing::LogEntry{
                  platform::LogPriority::error,
                  "Conversion not delivered: " + couldNotLaunch + failed.reason, request.id}));
  }
}

// Links planted in place of the state root's folders lead outside it: the provider neither
// writes nor reads through them.
TEST_F(Outcome, NoFolderOfTheStateRootIsReachedThroughALink) {
  const fs::path elsewhere = sandbox.directory() / "elsewhere";
  fs::create_directories(elsewhere);
  auto plantLink = [&](std::string_view name) {
    fs::remove_all(sandbox.root() / name);
    fs::create_directory_symlink(elsewhere, sandbox.root() / name);
  };
  auto provider = makeProvider();

  // In place of the queue: the request is refused with the file system's error.
  plantLink(FinderConversion::names::kRequests);
  const std::optional<std::string> refused = convert(*provider, {sandbox.audio("a.wav")});
  ASSERT_TRUE(refused);
  EXPECT_NE(refused->find("requests: Too many levels of symbolic links"), std::string::npos)
      << *refused;
  EXPECT_TRUE(fs::is_empty(elsewhere));
  fs::remove(sandbox.root() / FinderConversion::names::kRequests);

  // In place of "rejected" after a failed launch: the request stays in the queue.
  plantLink(FinderConversion::names::kRejected);
  desktop.scriptLaunch(
      LaunchOutcome::failure(platform::Error("Tonebrook.Launch", 2, "gone"), Seconds(0.3)));
  EXPECT_EQ(convert(*provider, {sandbox.audio("a.wav")}), couldNotLaunch + "gone");
  EXPECT_EQ(sandbox.queued().size(), 1u);
  EXPECT_TRUE(fs::is_empty(elsewhere));

  // In place of the answers during the wait, leading to an accepting answer: not taken.
  desktop.scriptLaunch(LaunchOutcome::never());
  after(desktop, Seconds(0.5), [&] {
    const FinderConversion::Request request = sandbox.onlyQueuedRequest();
    Acknowledgement forged;
    forged.id = request.id;
    forged.accepted = true;
    FinderConversion::write(forged, elsewhere / FinderConversion::fileName(request.id));
    plantLink(FinderConversion::names::kAcknowledgements);
  });
  fs::remove_all(sandbox.root() / FinderConversion::names::kRequests);
  EXPECT_EQ(convert(*provider, {sandbox.audio("b.wav")}), provider::kUnconfirmedSentence);
}

TEST_F(Outcome, SilenceUntilTheDeadlineThenALateHandlerStillRejects) {
  auto provider = makeProvider();
  desktop.scriptLaunch(
      LaunchOutcome::failure(platform::Error("Tonebrook.Launch", 2, "gone"), Seconds(9)));
  const auto start = desktop.now();

  EXPECT_EQ(convert(*provider, {sandbox.audio("a.wav")}), provider::kUnconfirmedSentence);

  EXPECT_GE(desktop.now() - start, Seconds(8));
  EXPECT_LT(desktop.now() - start, Seconds(8.1));
  EXPECT_EQ(sandbox.queued().size(), 1u);
  EXPECT_TRUE(provider->launchInFlight());  // the handler has not come yet
  FinderConversion::Uuid id = sandbox.onlyQueuedRequest().id;

  desktop.runUntil(desktop.now() + Seconds(2));

  EXPECT_FALSE(provider->launchInFlight());
  EXPECT_TRUE(sandbox.queued().empty());
  EXPECT_EQ(sandbox.rejected().size(), 1u);
  EXPECT_EQ(FinderConversion::read<Acknowledgement>(sandbox.acknowledgementOf(id)).message,
            couldNotLaunch + "gone");
}

TEST_F(Outcome, UnreadableAnswersCountAsSilence) {
  auto provider = makeProvider();
  desktop.scriptLaunch(LaunchOutcome::never());
  after(desktop, Seconds(0.5), [&] {
    writeText(sandbox.acknowledgementOf(sandbox.onlyQueuedRequest().id), "{\"accepted\":tr");
  });
  EXPECT_EQ(convert(*provider, {sandbox.audio("a.wav")}), provider::kUnconfirmedSentence);
  EXPECT_EQ(sandbox.queued().size(), 1u);
}

TEST_F(Outcome, NestedCallDuringTheWaitIsRefusedWhileTheFirstCompletes) {
  auto provider = makeProvider();
  std::optional<std::string> nested;
  after(desktop, Seconds(1), [&] { nested = convert(*provider, {sandbox.audio("b.wav")}); });
  after(desktop, Seconds(2), [&] { sandbox.answer(true); });

  EXPECT_EQ(convert(*provider, {sandbox.audio("a.wav")}), std::nullopt);

  EXPECT_EQ(nested, kFinishingUpdateSentence);
  EXPECT_EQ(sandbox.queued().size(), 1u);  // the refused call queued nothing
  EXPECT_EQ(desktop.launches().size(), 1u);
}

TEST_F(Outcome, RunningBoundCopyIsNotLaunchedAgain) {
  auto provider = makeProvider();
  // Reached through another path to the same bundle; another copy runs too.
  fs::create_directory_symlink(sandbox.host(), sandbox.directory() / "alias.app");
  desktop.setRunningApplications("app.tonebrook.Tonebrook",
                                 {{11, std::nullopt},
                                  {12, sandbox.directory() / "Other.app"},
                                  {13, sandbox.directory() / "alias.app"}});
  after(desktop, Seconds(3), [&] { sandbox.answer(true); });

  EXPECT_EQ(convert(*provider, {sandbox.audio("a.wav")}), std::nullopt);
  EXPECT_TRUE(desktop.launches().empty());
  EXPECT_FALSE(provider->launchInFlight());
}

TEST_F(Outcome, OnlyAnotherCopyRunningLaunchesTheBoundOne) {
  auto provider = makeProvider();
  makeHostBundle(sandbox.directory() / "Other.app", "app.tonebrook.Tonebrook");
  desktop.setRunningApplications("app.tonebrook.Tonebrook",
                                 {{12, sandbox.directory() / "Other.app"}});
  after(desktop, Seconds(1), [&] { sandbox.answer(true); });

  EXPECT_EQ(convert(*provider, {sandbox.audio("a.wav")}), std::nullopt);
  ASSERT_EQ(desktop.launches().size(), 1u);
  EXPECT_EQ(desktop.launches()[0].application, sandbox.host());
}

TEST_F(Outcome, VerificationRunTellsTheHostItsStateRootAndPauses) {
  desktop.setArguments(
      {sandbox.providerExecutable().string(), "--verify-provider", "--verify-hold-callback", "2"});
  auto provider = makeProvider(/*verification=*/true);
  after(desktop, Seconds(2.5), [&] { sandbox.answer(true); });
  const auto start = desktop.now();

  EXPECT_EQ(convert(*provider, {sandbox.audio("a.wav")}), std::nullopt);

  ASSERT_EQ(desktop.launches().size(), 1u);
  EXPECT_EQ(desktop.launches()[0].at - start, Seconds(2));
  EXPECT_EQ(desktop.launches()[0].configuration.arguments,
            (std::vector<std::string>{"--finder-service", "--verify-finder-inbox",
                                      sandbox.root().string()}));
}

TEST_F(Outcome, PauseIsIgnoredOutsideVerification) {
  desktop.setArguments({sandbox.providerExecutable().string(), "--verify-hold-callback", "2"});
  auto provider = makeProvider();
  after(desktop, Seconds(0.5), [&] { sandbox.answer(true); });
  const auto start = desktop.now();
  EXPECT_EQ(convert(*provider, {sandbox.audio("a.wav")}), std::nullopt);
  ASSERT_EQ(desktop.launches().size(), 1u);
  EXPECT_EQ(desktop.launches()[0].at, start);
}

}  // namespace
}  // namespace provider_test
