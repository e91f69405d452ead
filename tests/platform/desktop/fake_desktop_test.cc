// The test double's own promises: exact virtual time, scripted launches and what it records.
#include "platform/testing/fake_desktop.h"

#include <gtest/gtest.h>

#include <thread>

#include "support/temp_directory.h"
#include "test_bundles.h"

namespace platform::testing {
namespace {

namespace fs = std::filesystem;

class FakeDesktopTest : public ::testing::Test {
 protected:
  MonotonicTime at(double seconds) const { return FakeDesktop::kStart + Seconds(seconds); }

  // launch opens `application` and records how its completion came.
  void launch(const fs::path& application, std::vector<std::string> arguments = {}) {
    desktop.openApplication(
        application, {false, true, std::move(arguments)},
        [this, caller = std::this_thread::get_id()](auto instance, auto error) {
          completions.push_back({desktop.now(), std::move(instance), std::move(error),
                                 std::this_thread::get_id() != caller});
        });
  }

  struct Completion {
    MonotonicTime at;
    std::optional<RunningApplication> instance;
    std::optional<Error> error;
    bool onAnotherThread;
  };

  FakeDesktop desktop;
  std::vector<Completion> completions;
};

TEST_F(FakeDesktopTest, RunUntilJumpsThroughTimersInDateOrder) {
  std::vector<std::pair<char, double>> log;
  auto record = [&](char name) {
    return [&, name] { log.emplace_back(name, (desktop.now() - FakeDesktop::kStart).count()); };
  };
  auto a = desktop.scheduleRepeatingTimer(Seconds(0.03), record('a'));
  auto b = desktop.scheduleRepeatingTimer(Seconds(0.05), record('b'));
  desktop.runUntil(at(0.14));
  const std::vector<std::pair<char, double>> expected{{'a', 0.03}, {'b', 0.05}, {'a', 0.06},
                                                      {'a', 0.09}, {'b', 0.10}, {'a', 0.12}};
  ASSERT_EQ(log.size(), expected.size());
  for (std::size_t i = 0; i < log.size(); ++i) {
    EXPECT_EQ(log[i].first, expected[i].first) << i;
    EXPECT_NEAR(log[i].second, expected[i].second, 1e-9) << i;
  }
  EXPECT_EQ(desktop.now(), at(0.14));
}

TEST_F(FakeDesktopTest, AnEightSecondWaitInFiftyMillisecondSlicesTakesNoRealTime) {
  int ticks = 0;
  auto heartbeat = desktop.scheduleRepeatingTimer(Seconds(0.2), [&] { ++ticks; });
  const auto realStart = std::chrono::steady_clock::now();
  const auto deadline = desktop.now() + Seconds(8);
  int slices = 0;
  while (desktop.now() < deadline) {
    desktop.runUntil(desktop.now() + Seconds(0.05));
    ++slices;
  }
  EXPECT_NEAR(slices, 160, 1);  // sums of 0.05 in double may fall just short of the deadline
  EXPECT_EQ(ticks, 40);
  EXPECT_LT(std::chrono::steady_clock::now() - realStart, std::chrono::seconds(4))
      << "eight seconds of virtual time took real time";
}

TEST_F(FakeDesktopTest, ScriptedLaunchesComeAtTheirVirtualTimesOnAnotherThread) {
  const Error refused(std::string(kPosixDomain), EACCES,
                      "/A.app/Contents/MacOS/A: Permission denied");
  desktop.scriptLaunch(LaunchOutcome::sameCopy());
  desktop.scriptLaunch(LaunchOutcome::otherCopy("/Other/A.app", Seconds(0.5)));
  desktop.scriptLaunch(LaunchOutcome::failure(refused, Seconds(9)));
  desktop.scriptLaunch(LaunchOutcome::never());
  for (int i = 0; i < 5; ++i) launch("/A.app", {"--finder-service", std::to_string(i)});
  EXPECT_TRUE(completions.empty()) << "never inside openApplication";

  desktop.runUntil(at(8));
  ASSERT_EQ(completions.size(), 3u);
  EXPECT_EQ(completions[0].at, at(0));
  EXPECT_EQ(completions[0].instance->bundleURL, fs::path("/A.app"));
  EXPECT_EQ(completions[1].at, at(0)) << "an unscripted launch reaches the same copy at once";
  EXPECT_EQ(completions[1].instance->bundleURL, fs::path("/A.app"));
  EXPECT_NE(completions[1].instance->pid, completions[0].instance->pid);
  EXPECT_EQ(completions[2].at, at(0.5));
  EXPECT_EQ(completions[2].instance->bundleURL, fs::path("/Other/A.app"));
  EXPECT_EQ(desktop.pendingLaunchCompletions(), 1u);

  desktop.runUntil(at(100));
  ASSERT_EQ(completions.size(), 4u);
  EXPECT_EQ(completions[3].at, at(9));
  EXPECT_FALSE(completions[3].instance);
  ASSERT_TRUE(completions[3].error);
  EXPECT_EQ(completions[3].error->code(), EACCES);
  EXPECT_EQ(completions[3].error->description(), refused.description());
  for (const auto& completion : completions) EXPECT_TRUE(completion.onAnotherThread);
  EXPECT_EQ(desktop.pendingLaunchCompletions(), 0u);

  std::vector<LaunchRecord> expected;
  for (int i = 0; i < 5; ++i) {
    expected.push_back({"/A.app", {false, true, {"--finder-service", std::to_string(i)}}, at(0)});
  }
  EXPECT_EQ(desktop.launches(), expected);
}

TEST_F(FakeDesktopTest, ScriptedApplicationsAndRecordedRequests) {
  desktop.setRunningApplications("app.tonebrook.Tonebrook", {{12, "/A.app"}, {15, std::nullopt}});
  EXPECT_EQ(desktop.runningApplications("app.tonebrook.Tonebrook").size(), 2u);
  EXPECT_EQ(desktop.runningApplications("app.tonebrook.Tonebrook")[1].bundleURL, std::nullopt);
  EXPECT_TRUE(desktop.runningApplications("app.other").empty());

  desktop.setArguments({"/p/provider", "--verify-provider"});
  EXPECT_EQ(desktop.arguments(), (std::vector<std::string>{"/p/provider", "--verify-provider"}));

  desktop.grantSecurityScopedAccess(true);
  const auto url = *Url::parse("file:///a");
  EXPECT_TRUE(desktop.startAccessingSecurityScopedResource(url));
  desktop.stopAccessingSecurityScopedResource(url);
  EXPECT_EQ(desktop.securityScopedLog(),
            (std::vector<std::string>{"start file:///a", "stop file:///a"}));
}

TEST_F(FakeDesktopTest, MainBundleIsRealUnlessOverridden) {
  test_support::TempDirectory directory;
  const auto bundle = makeBundle(directory.path() / "Q.service", "app.tonebrook.QuickConversion");
  writeText(bundle / "Contents" / "Info.plist",
            "<plist version=\"1.0\"><dict><key>CFBundleVersion</key><string>3</string>"
            "<key>NSServices</key><array><dict><key>NSPortName</key>"
            "<string>app.tonebrook.QuickConversion</string></dict></array></dict></plist>");
  desktop.setMainBundleURL(bundle);
  EXPECT_EQ(desktop.mainBundleURL(), bundle);
  EXPECT_EQ(desktop.mainBundleInfoString("CFBundleVersion"), "3");
  desktop.setMainBundleInfoString("CFBundleVersion", std::nullopt);
  EXPECT_EQ(desktop.mainBundleInfoString("CFBundleVersion"), std::nullopt);

  struct NoProvider final : ServicesProvider {
    void convert(Pasteboard&, const std::optional<std::string>&,
                 std::optional<std::string>&) override {}
  } provider;
  desktop.setServicesProvider(provider);
  desktop.registerServicesProvider(provider, "org.example.Live");
  EXPECT_EQ(desktop.servicesProvider(), &provider);
  EXPECT_EQ(desktop.requestedPortNames(),
            (std::vector<std::string>{"app.tonebrook.QuickConversion", "org.example.Live"}));
}

TEST_F(FakeDesktopTest, RunEndsAtTheTerminateRequestOrWhenNothingIsDue) {
  int ticks = 0;
  auto timer = desktop.scheduleRepeatingTimer(Seconds(0.2), [&] {
    if (++ticks == 3) desktop.terminate();
  });
  desktop.run();
  EXPECT_EQ(desktop.terminateRequests(), 1);
  EXPECT_NEAR((desktop.now() - FakeDesktop::kStart).count(), 0.6, 1e-9);

  FakeDesktop idle;
  idle.run();  // nothing scheduled: returns at once
  EXPECT_EQ(idle.now(), FakeDesktop::kStart);
  FakeDesktop limited;
  limited.setRunLimit(Seconds(70));
  auto forever = limited.scheduleRepeatingTimer(Seconds(0.1), [] {});
  limited.run();
  EXPECT_NEAR((limited.now() - FakeDesktop::kStart).count(), 70.0, 0.1);
}

}  // namespace
}  // namespace platform::testing
