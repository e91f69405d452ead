// Hosts of the bound copy that serve another home (several homes under one account, a sandbox, a
// test run beside a real session) are not this session's running host.
#include <algorithm>
#include <fstream>

#include "exchange/constants.h"
#include "platform/core/files.h"
#include "platform/linux/running_applications.h"
#include "tests/e2e/e2e_fixture.h"

namespace e2e {
namespace {

class Session : public EndToEnd {
 protected:
  static std::vector<int> runningHosts() {
    std::vector<int> pids;
    for (const auto& application :
         platform::runningApplicationsWithIdentifier(std::string(FinderConversion::bundleID))) {
      pids.push_back(application.pid);
    }
    return pids;
  }
  // started: the program runs with its environment in place (spawn returns while the kernel
  // still sets it up, and an environment not yet there reads as empty).
  static std::unique_ptr<Program> started(std::unique_ptr<Program> program) {
    const fs::path environment = "/proc/" + std::to_string(program->pid()) + "/environ";
    EXPECT_TRUE(waitFor(
        [&] {
          std::ifstream in(environment);
          return in.get() != std::char_traits<char>::eof();
        },
        5));
    return program;
  }
  static bool contains(const std::vector<int>& pids, int pid) {
    return std::find(pids.begin(), pids.end(), pid) != pids.end();
  }
};

// The bound copy serving another home's queue does not stop the provider from starting the
// host for ours: the call is confirmed instead of waiting 8 seconds for a host that never looks
// at our queue.
TEST_F(Session, HostOfTheBoundCopyServingAnotherHomeIsNotOurs) {
  install(builtPackage());
  startBus();
  const fs::path otherHome = directory() / "other home";
  const fs::path otherRoot = otherHome / "Library/Application Support/Tonebrook/FinderConversion";
  fs::create_directories(otherRoot);
  // A host leaves only after a last look made under its root's lifecycle lock: holding that
  // lock keeps the other home's host serving for the whole test.
  std::optional<platform::LockFile> otherLock =
      platform::LockFile::open(otherRoot / FinderConversion::names::kLifecycleLock);
  ASSERT_TRUE(otherLock && otherLock->tryLockExclusive());
  const std::unique_ptr<Program> otherHost =
      started(start({host().string(), "--finder-service"}, {{"HOME", otherHome.string()}}));
  EXPECT_FALSE(contains(runningHosts(), otherHost->pid()));

  const RunResult result = run({client().string(), "mp3", audioFile("tone.wav").string()}, 40);
  EXPECT_EQ(result.status, 0) << result.errors;
  if (const std::optional<int> pid = providerPid()) rememberProvider(*pid);

  // A host of the same copy under our home is ours.
  const std::unique_ptr<Program> ourHost = started(start({host().string(), "--finder-service"}));
  const std::vector<int> running = runningHosts();
  EXPECT_TRUE(contains(running, ourHost->pid()));
  EXPECT_FALSE(contains(running, otherHost->pid()));
  EXPECT_TRUE(platform::testing::processAlive(otherHost->pid())) << "it served on meanwhile";
  const fs::path otherQueue = otherRoot / FinderConversion::names::kRequests;
  EXPECT_TRUE(!fs::exists(otherQueue) || fs::is_empty(otherQueue))
      << "nothing was queued for the other home";
}

}  // namespace
}  // namespace e2e
