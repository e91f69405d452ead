#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "lifetime/finder_provider_lifetime.h"
#include "platform/core/error.h"
#include "platform/core/spawn.h"
#include "support/temp_directory.h"

namespace lifetime_testing {

using State = FinderProviderLifetime::State;
using platform::ChildProcess;

// spawnChild starts arguments[0] (a path) with standard output and error into `output`.
// Unlike the children the system starts, it inherits all of this process's descriptors: the
// lifetime suite proves with it that the lock and state files are close-on-exec, as they must
// be for the hosts a provider launches.
ChildProcess spawnChild(const std::vector<std::string>& arguments,
                        const std::filesystem::path& output);

std::string readFile(const std::filesystem::path& path);
void writeFile(const std::filesystem::path& path, std::string_view bytes);

// errorOf runs `operation` and gives the platform::Error it throws (a test failure when it
// throws nothing).
platform::Error errorOf(const std::function<void()>& operation);
// describe: "domain code: description", so that errors compare whole and print readably.
std::string describe(const platform::Error& error);
// failureOf: describe(errorOf(operation)); sentence: the description of failure(text).
std::string failureOf(const std::function<void()>& operation);
std::string sentence(std::string_view text);

// lockIsFree: the provider lock of `root` can be taken right now (and is given back).
bool lockIsFree(const std::filesystem::path& root);

// LifetimeTest gives each test a fresh directory holding a state root (not yet created) and
// a provider executable stand-in of a few kilobytes.
class LifetimeTest : public ::testing::Test {
 protected:
  void SetUp() override;

  std::filesystem::path statePath() const { return root / "provider-state.json"; }
  std::filesystem::path retirePath() const { return root / "provider-retire.json"; }
  std::filesystem::path lockPath() const { return root / "provider.lock"; }

  // startProvider runs lifetime_test_provider on `root` and `executable`; its output goes
  // to a file of the test directory.
  ChildProcess startProvider(const std::filesystem::path& busyWhile = {});
  // waitForState waits until "provider-state.json" was written by process `pid`.
  State waitForState(int pid, std::chrono::milliseconds timeout = std::chrono::seconds(10));
  std::string providerOutput() const { return readFile(directory / "provider-output.txt"); }

  test_support::TempDirectory temporary{"lifetime-test"};
  std::filesystem::path directory = temporary.path();
  std::filesystem::path root;
  std::filesystem::path executable;
  std::string executableBytes;
};

}  // namespace lifetime_testing
