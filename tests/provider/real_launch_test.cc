// Real launches of real host processes through the Linux desktop, on real time.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <thread>

#include "exchange/constants.h"
#include "exchange/record_files.h"
#include "provider/host_launch.h"
#include "provider/provider.h"
#include "tests/host/wav.h"
#include "tests/provider/add_on_desktop.h"
#include "tests/provider/sandbox.h"

namespace provider_test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

const fs::path builtHost = fs::path(TONEBROOK_APP_DIR) / "Contents/MacOS/Tonebrook";
const std::string hostID(FinderConversion::bundleID);

// commandLine: the arguments of a running process after its program path.
std::vector<std::string> commandLine(int pid) {
  std::ifstream file("/proc/" + std::to_string(pid) + "/cmdline", std::ios::binary);
  std::vector<std::string> words;
  for (std::string word; std::getline(file, word, '\0');) words.push_back(word);
  if (!words.empty()) words.erase(words.begin());
  return words;
}

// processState: the state letter of /proc/PID/stat ('Z' for a zombie), or 0 when gone.
char processState(int pid) {
  std::ifstream file("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  if (!std::getline(file, line)) return 0;
  std::size_t close = line.rfind(')');
  return close + 2 < line.size() ? line[close + 2] : 0;
}

// parentOf: the parent process id from /proc/PID/stat, or 0 when gone.
int parentOf(int pid) {
  std::ifstream file("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  if (!std::getline(file, line)) return 0;
  std::istringstream fields(line.substr(line.rfind(')') + 2));
  char state = 0;
  int parent = 0;
  fields >> state >> parent;
  return parent;
}

// hostsIn: the running hosts of this sandbox (other tests on the machine may run their own).
// A host's own child between its fork and its exec of ffmpeg still runs the host executable
// for an instant; it is not a launched host, so children of listed hosts are left out.
std::vector<platform::RunningApplication> hostsIn(platform::Desktop& desktop,
                                                  const Sandbox& sandbox) {
  std::vector<platform::RunningApplication> all;
  for (platform::RunningApplication& host : desktop.runningApplications(hostID)) {
    std::string location = host.bundleURL ? host.bundleURL->string() : "";
    if (location.starts_with(sandbox.directory().string() + "/")) all.push_back(host);
  }
  std::vector<platform::RunningApplication> hosts;
  for (const platform::RunningApplication& host : all) {
    const int parent = parentOf(host.pid);
    bool childOfHost = false;
    for (const platform::RunningApplication& other : all) childOfHost |= other.pid == parent;
    if (!childOfHost) hosts.push_back(host);
  }
  return hosts;
}

class RealLaunch : public ::testing::Test {
 protected:
  RealLaunch()
      : sandbox(builtHost), desktop(sandbox.addOn(), {sandbox.providerExecutable().string()}) {}

  std::shared_ptr<Provider> makeProvider(bool verification = true) {
    return Provider::create(desktop, sandbox.root(), verification);
  }

  std::optional<std::string> convert(Provider& provider) {
    fs::path input = sandbox.directory() / "Music/tone.wav";
    host_test::writeSilentWav(input);
    platform::Pasteboard& pasteboard = desktop.pasteboard("services");
    pasteboard.clearContents();
    pasteboard.writeURLs({platform::Url::fromFilePath(input)});
    std::optional<std::string> error;
    provider.convert(pasteboard, "wav", error);
    return error;
  }

  std::vector<platform::RunningApplication> runningHosts() { return hostsIn(desktop, sandbox); }

  // waitUntil serves the run loop until `done` holds or `limit` passes.
  bool waitUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = 5000ms) {
    auto deadline = desktop.now() + limit;
    while (!done()) {
      if (desktop.now() >= deadline) return false;
      desktop.runUntil(desktop.now() + platform::Seconds(0.02));
    }
    return true;
  }

  Sandbox sandbox;
  AddOnDesktop desktop;
};

TEST_F(RealLaunch, StandInHostAcknowledgesWithExactlyTheConfiguredArguments) {
  auto provider = makeProvider();
  EXPECT_EQ(convert(*provider), std::nullopt);

  std::vector<platform::RunningApplication> hosts = runningHosts();
  ASSERT_EQ(hosts.size(), 1u);
  EXPECT_EQ(hosts[0].bundleURL, sandbox.host());
  EXPECT_EQ(commandLine(hosts[0].pid),
            (std::vector<std::string>{"--finder-service", "--verify-finder-inbox",
                                      sandbox.root().string()}));
  EXPECT_TRUE(fs::exists(sandbox.root() / FinderConversion::names::kPackagedInbox));
  EXPECT_TRUE(waitUntil([&] { return !provider->launchInFlight(); }));

  // The delivery is over: the lifecycle lock is free while the host still serves.
  EXPECT_NO_THROW(static_cast<void>(FinderConversion::LifecycleLock::acquire(sandbox.root())));
  EXPECT_EQ(runningHosts().size(), 1u);

  // Once the host is done it is gone entirely: reaped, not a zombie.
  const int pid = hosts[0].pid;
  EXPECT_TRUE(waitUntil([&] { return processState(pid) == 0; }, 8000ms))
      << "state " << processState(pid);
}

// Without a directory watch (inotify limits reached) the wait still sees the real host's answer
// by looking every slice.
TEST_F(RealLaunch, AcknowledgementIsSeenByPollingWhenNoWatchCanBeMade) {
  desktop.withoutWatches();
  auto provider = makeProvider();
  EXPECT_EQ(convert(*provider), std::nullopt);
  EXPECT_TRUE(waitUntil([&] { return !provider->launchInFlight(); }));
}

TEST(RealLaunchNormalRun, HostGetsOneArgumentAndServesTheDefaultStateRoot) {
  Sandbox sandbox(builtHost, Sandbox::RootPlace::belowHome);
  const char* previousHome = std::getenv("HOME");
  const std::string savedHome = previousHome ? previousHome : "";
  ::setenv("HOME", sandbox.directory().c_str(), 1);  // the launched host inherits it
  ASSERT_EQ(FinderConversion::stateRoot(), sandbox.root());
  AddOnDesktop desktop(sandbox.addOn(), {sandbox.providerExecutable().string()});
  auto provider = Provider::create(desktop, FinderConversion::stateRoot(), false);
  fs::path input = sandbox.audio("a.wav");
  platform::Pasteboard& pasteboard = desktop.pasteboard("services");
  pasteboard.writeURLs({platform::Url::fromFilePath(input)});
  std::optional<std::string> error;

  provider->convert(pasteboard, "mp3", error);

  EXPECT_EQ(error, std::nullopt);
  std::vector<platform::RunningApplication> hosts = hostsIn(desktop, sandbox);
  ASSERT_EQ(hosts.size(), 1u);
  EXPECT_EQ(commandLine(hosts[0].pid), std::vector<std::string>{"--finder-service"});
  if (previousHome) {
    ::setenv("HOME", savedHome.c_str(), 1);
  } else {
    ::unsetenv("HOME");
  }
}

TEST_F(RealLaunch, HostThatCannotBeExecutedIsRefusedAndRejected) {
  fs::path executable = sandbox.host() / "Contents/MacOS/Tonebrook";
  fs::remove(executable);
  writeText(executable, "not a program\n");
  fs::permissions(executable, fs::perms::owner_all);
  auto provider = makeProvider();

  std::optional<std::string> error = convert(*provider);

  ASSERT_TRUE(error);
  EXPECT_TRUE(error->starts_with(provider::kCouldNotLaunchPrefix)) << *error;
  EXPECT_GT(error->size(), provider::kCouldNotLaunchPrefix.size());
  EXPECT_EQ(sandbox.rejected().size(), 1u);
  EXPECT_TRUE(sandbox.queued().empty());
  EXPECT_EQ(sandbox.providerError(), error);
}

TEST_F(RealLaunch, ExecutableLinkedIntoAnotherCopyIsADifferentCopy) {
  fs::path other = sandbox.directory() / "Applications/Other.app";
  makeHostBundle(other, hostID, "/bin/true");
  fs::path executable = sandbox.host() / "Contents/MacOS/Tonebrook";
  fs::remove(executable);
  fs::create_symlink(other / "Contents/MacOS/Tonebrook", executable);
  auto provider = makeProvider();

  EXPECT_EQ(convert(*provider), std::string(provider::kCouldNotLaunchPrefix) +
                                    std::string(provider::kDifferentCopySentence));
  EXPECT_EQ(sandbox.rejected().size(), 1u);
}

TEST_F(RealLaunch, RunningBoundCopyServesWithoutASecondLaunch) {
  // Written by the completion on its own thread: published through the atomic flag.
  std::optional<platform::Error> startError;
  std::atomic<bool> started = false;
  desktop.openApplication(
      sandbox.host(),
      {false, true, {"--finder-service", "--verify-finder-inbox", sandbox.root().string()}},
      [&](std::optional<platform::RunningApplication>, std::optional<platform::Error> error) {
        startError = error;
        started = true;
      });
  ASSERT_TRUE(waitUntil([&] { return started && runningHosts().size() == 1; }));
  ASSERT_FALSE(startError);
  const int pid = runningHosts()[0].pid;
  auto provider = makeProvider();

  EXPECT_EQ(convert(*provider), std::nullopt);

  EXPECT_FALSE(provider->launchInFlight());
  std::vector<platform::RunningApplication> hosts = runningHosts();
  ASSERT_EQ(hosts.size(), 1u);
  EXPECT_EQ(hosts[0].pid, pid);
}

}  // namespace
}  // namespace provider_test
