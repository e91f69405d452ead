#include "entry/start_up.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

#include "exchange/constants.h"
#include "exchange/record_files.h"
#include "platform/core/files.h"
#include "platform/testing/fake_desktop.h"
#include "support/temp_directory.h"
#include "tests/provider/sandbox.h"

namespace {

namespace fs = std::filesystem;
using platform::Seconds;
using platform::testing::FakeDesktop;

// StartUp runs the whole start-up with the real provider on the desktop double: a temporary
// directory holds the state root and a provider executable of its own.
class StartUp : public ::testing::Test {
 protected:
  void SetUp() override {
    executable_ = directory_ / "TonebrookQuickConversion";
    fs::copy_file("/bin/true", executable_);
    root_ = directory_ / "root";
    desktop_.setRunLimit(Seconds(2));
  }

  int startUp(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), executable_.string());
    desktop_.setArguments(arguments);
    return entry::startUp(desktop_,
                          {.writeStandardError = [this](std::string_view text) { errors_ += text; },
                           .exit = [this](int status) { exits_.push_back(status); }});
  }

  test_support::TempDirectory temporary_{"start-up"};
  fs::path directory_ = temporary_.path();
  fs::path executable_;
  fs::path root_;
  FakeDesktop desktop_;
  std::string errors_;
  std::vector<int> exits_;
};

TEST_F(StartUp, ProviderThatCannotBeCreatedEndsWithStatusOneBeforeAnyRegistration) {
  FinderConversion::prepare(root_);
  std::optional<platform::LockFile> lock = platform::LockFile::open(root_ / "provider.lock");
  ASSERT_TRUE(lock && lock->tryLockExclusive());

  EXPECT_EQ(startUp({"--verify-live-provider", root_.string(), "test.port"}), 1);
  EXPECT_EQ(errors_, "Another conversion provider is still running. Retry after it finishes.\n");
  EXPECT_EQ(exits_, std::vector<int>{1});
  EXPECT_EQ(desktop_.servicesProvider(), nullptr);
  EXPECT_TRUE(desktop_.requestedPortNames().empty());
}

TEST_F(StartUp, LiveVerificationRegistersThePortNameAndServesUntilRetirement) {
  // The add-on is replaced after one second: the provider retires at its next idle tick.
  const auto replace =
      desktop_.scheduleRepeatingTimer(Seconds(1), [this] { fs::remove(executable_); });
  EXPECT_EQ(startUp({"--verify-live-provider", root_.string(), "test.port"}), 0);
  replace->invalidate();
  EXPECT_NE(desktop_.servicesProvider(), nullptr);
  const auto& names = desktop_.requestedPortNames();
  EXPECT_NE(std::find(names.begin(), names.end(), "test.port"), names.end());
  EXPECT_EQ(desktop_.terminateRequests(), 1);
  EXPECT_TRUE(exits_.empty());
  EXPECT_TRUE(fs::exists(root_ / "provider-state.json"));
}

TEST_F(StartUp, PackagedVerificationWhoseDeliveryFailsEndsWithItsDescription) {
  // No receipt in the state root: the delivery fails with the file system's own error.
  EXPECT_EQ(startUp({"--verify-provider", root_.string(), "mp3", "/music/a.wav"}), 1);
  ASSERT_EQ(exits_, std::vector<int>{1});
  ASSERT_FALSE(errors_.empty());
  EXPECT_EQ(errors_.back(), '\n');
  const std::string error =
      FinderConversion::read<std::string>(root_ / FinderConversion::names::kProviderError);
  EXPECT_EQ(errors_, error + "\n");
  EXPECT_NE(error.find("receipt.json"), std::string::npos) << error;
}

TEST_F(StartUp, ModeWordWithTooFewArgumentsServesTheDefaultStateRoot) {
  const fs::path home = directory_ / "home";
  setenv("HOME", home.c_str(), 1);
  EXPECT_EQ(startUp({"--verify-provider", root_.string(), "mp3"}), 0);
  EXPECT_TRUE(fs::exists(FinderConversion::stateRoot() / "provider-state.json"));
  EXPECT_FALSE(fs::exists(root_));
  EXPECT_NE(desktop_.servicesProvider(), nullptr);
}

// A normal run serves the session bus only: when its connection is lost the provider ends at
// its next idle tick (status 0 through the application's termination), so that the provider of
// the next bus can take the lock.
TEST_F(StartUp, NormalRunEndsWhenItsBusConnectionIsLost) {
  const fs::path home = directory_ / "home";
  setenv("HOME", home.c_str(), 1);
  const auto lose = desktop_.scheduleRepeatingTimer(Seconds(1), [this] {
    if (desktop_.terminateRequests() == 0) desktop_.loseServicesConnection();
  });
  const auto start = desktop_.now();
  EXPECT_EQ(startUp({}), 0);
  lose->invalidate();
  EXPECT_EQ(desktop_.terminateRequests(), 1);
  EXPECT_LE(desktop_.now() - start, Seconds(1.2)) << "at the first tick after the loss";
  EXPECT_TRUE(exits_.empty());
}

// The bus holds its caller for a process it started until the name is taken or the process
// ends: a normal run that cannot serve ends at once, with the reason in its log. Verification
// runs are never started by the bus and go on.
TEST_F(StartUp, NormalRunTheBusStartedEndsAtOnceWhenItCannotServe) {
  const fs::path home = directory_ / "home";
  setenv("HOME", home.c_str(), 1);
  desktop_.setUnserved("The bus name a.b cannot be taken (File exists).");
  const auto start = desktop_.now();
  EXPECT_EQ(startUp({}), 1);
  EXPECT_EQ(exits_, std::vector<int>{1});
  const std::vector<platform::testing::LogEntry> logged{
      {platform::LogPriority::error, "The bus name a.b cannot be taken (File exists). Ending.",
       std::nullopt}};
  EXPECT_EQ(desktop_.logEntries(), logged);
  EXPECT_EQ(desktop_.terminateRequests(), 0);
  EXPECT_EQ(desktop_.now(), start) << "before the loop ran at all";

  exits_.clear();
  const auto replace =
      desktop_.scheduleRepeatingTimer(Seconds(1), [this] { fs::remove(executable_); });
  EXPECT_EQ(startUp({"--verify-live-provider", root_.string(), "test.port"}), 0);
  replace->invalidate();
  EXPECT_TRUE(exits_.empty());
  EXPECT_EQ(desktop_.terminateRequests(), 1) << "served until it retired";
}

TEST_F(StartUp, VerificationRunsDoNotDependOnTheBus) {
  const auto lose =
      desktop_.scheduleRepeatingTimer(Seconds(0.5), [this] { desktop_.loseServicesConnection(); });
  EXPECT_EQ(startUp({"--verify-live-provider", root_.string(), "test.port"}), 0);
  lose->invalidate();
  EXPECT_EQ(desktop_.terminateRequests(), 0);
  EXPECT_TRUE(exits_.empty());
}

// Retiring before the host's sign appeared verifies nothing: status 1 with the sentence of a
// provider that is finishing an update, never the status of success.
TEST_F(StartUp, PackagedVerificationThatRetiresBeforeTheSignEndsAsAFailure) {
  provider_test::Sandbox sandbox;
  desktop_.setMainBundleURL(sandbox.addOn());
  executable_ = sandbox.providerExecutable();
  provider_test::after(desktop_, Seconds(0.1), [&] { sandbox.answer(true); });
  provider_test::after(desktop_, Seconds(1), [&] { fs::remove(executable_); });

  startUp({"--verify-provider", sandbox.root().string(), "mp3", sandbox.audio("a.wav").string()});

  ASSERT_FALSE(exits_.empty());
  EXPECT_EQ(exits_.front(), 1);
  EXPECT_TRUE(
      errors_.starts_with("The conversion add-on is finishing an update. Retry in a moment.\n"))
      << errors_;
  EXPECT_EQ(desktop_.terminateRequests(), 0);
}

}  // namespace
