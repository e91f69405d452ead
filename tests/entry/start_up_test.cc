#include "entry/start_up.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

#include "exchange/constants.h"
#include "exchange/record_files.h"
#include "platform/core/files.h"
#include "platform/testing/fake_desktop.h"
#include "support/temp_directory.h"

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
      FinderConversion::read<std::string>(root_ / FinderConversion::names::providerError);
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

}  // namespace
