// Creation, heartbeat and end of life of FinderProviderLifetime, with the provider lock taken
// for real by this process and by lifetime_test_provider processes.
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <thread>

#include "exchange/record_files.h"
#include "platform/core/digest.h"
#include "platform/core/files.h"
#include "tests/lifetime/lifetime_fixture.h"

namespace lifetime_testing {
namespace {

using namespace std::chrono_literals;
using Lifetime = FinderProviderLifetime;

TEST_F(LifetimeTest, CreationHoldsTheLockAndPublishesItsState) {
  std::string expectedHash = platform::sha256Hex(executableBytes);
  {
    Lifetime lifetime(root, executable, "2.1/beta");
    EXPECT_EQ(lifetime.executableHash(), expectedHash);
    EXPECT_FALSE(lockIsFree(root));
    // The lock belongs to the open descriptor: even this process cannot take it twice.
    EXPECT_EQ(failureOf([&] { Lifetime second(root, executable); }),
              sentence(Lifetime::kProviderRunningSentence));

    std::string document = readFile(statePath());
    std::string expectedStart = R"({"version":1,"instance":")" + lifetime.instance().text() +
                                R"(","pid":)" + std::to_string(platform::processId()) +
                                R"(,"executableHash":")" + expectedHash +
                                R"(","payloadVersion":"2.1\/beta","updated":)";
    EXPECT_EQ(document.substr(0, expectedStart.size()), expectedStart);
    EXPECT_EQ(document.back(), '}');
    auto state = FinderConversion::decode<State>(document);
    EXPECT_NEAR(state.updated, platform::secondsSinceReferenceDate(), 2.0);
  }
  EXPECT_TRUE(lockIsFree(root));
  EXPECT_TRUE(std::filesystem::exists(statePath())) << "nothing is deleted at the end";
  EXPECT_TRUE(std::filesystem::is_regular_file(lockPath()));
}

TEST_F(LifetimeTest, SuccessiveHeartbeatsRefreshOnlyTheTime) {
  Lifetime lifetime(root, executable);
  auto first = FinderConversion::read<State>(statePath());
  std::this_thread::sleep_for(20ms);
  lifetime.heartbeat();
  auto second = FinderConversion::read<State>(statePath());

  for (const State* state : {&first, &second}) {
    EXPECT_EQ(state->version, 1);
    EXPECT_EQ(state->instance, lifetime.instance());
    EXPECT_EQ(state->pid, platform::processId());
    EXPECT_EQ(state->executableHash, lifetime.executableHash());
    EXPECT_EQ(state->payloadVersion, "unknown");
  }
  EXPECT_GT(second.updated, first.updated);
}

TEST_F(LifetimeTest, OnlyOneProcessHoldsTheLockUntilItsHolderEnds) {
  std::optional<Lifetime> holder(std::in_place, root, executable);
  std::string holderState = readFile(statePath());

  ChildProcess refused = startProvider();
  EXPECT_EQ(refused.waitFor(10s), 1);
  EXPECT_EQ(providerOutput(), std::string(Lifetime::kProviderRunningSentence) + "\n");
  EXPECT_EQ(readFile(statePath()), holderState) << "the refused process wrote nothing";

  platform::Uuid firstInstance = holder->instance();
  holder.reset();
  ChildProcess successor = startProvider();
  State successorState = waitForState(successor.pid());
  EXPECT_NE(successorState.instance, firstInstance);
  EXPECT_FALSE(lockIsFree(root));

  // A killed holder runs no clean-up; the lock still ends with its process.
  successor.kill();
  EXPECT_EQ(successor.waitFor(10s), 128 + 9);
  Lifetime next(root, executable);
  EXPECT_NE(next.instance(), successorState.instance);
  EXPECT_EQ(FinderConversion::read<State>(statePath()).instance, next.instance());
}

TEST_F(LifetimeTest, ChildProcessesDoNotInheritTheLock) {
  std::optional<Lifetime> lifetime(std::in_place, root, executable);
  ChildProcess child = spawnChild({"/bin/sleep", "30"}, directory / "sleep.txt");
  lifetime.reset();
  EXPECT_TRUE(lockIsFree(root)) << "a child still holds the provider lock";
}

TEST_F(LifetimeTest, LinkNamedProviderLockIsRefusedAndLeftAlone) {
  std::filesystem::create_directories(root);
  std::filesystem::path target = directory / "elsewhere.lock";
  std::filesystem::create_symlink(target, lockPath());

  EXPECT_EQ(failureOf([&] { Lifetime lifetime(root, executable); }),
            sentence(Lifetime::kProviderRunningSentence));
  EXPECT_TRUE(std::filesystem::is_symlink(lockPath()));
  EXPECT_EQ(std::filesystem::read_symlink(lockPath()), target);
  EXPECT_FALSE(std::filesystem::exists(target)) << "the link was followed";
  EXPECT_FALSE(std::filesystem::exists(statePath()));
}

TEST_F(LifetimeTest, MissingOrUnreadableExecutableHoldsNothing) {
  std::filesystem::path missing = directory / "missing";
  std::filesystem::path folder = directory / "folder";
  std::filesystem::create_directory(folder);

  EXPECT_EQ(failureOf([&] { Lifetime lifetime(root, missing); }),
            sentence(Lifetime::kExecutableUnavailableSentence));
  // A directory stats like an executable but cannot be read: the read error passes through.
  platform::Error readError = errorOf([&] { Lifetime lifetime(root, folder); });
  EXPECT_EQ(readError.domain(), platform::kPosixDomain);
  EXPECT_EQ(readError.code(), EISDIR);

  // Without read permission (meaningful only when the tests do not run as the superuser).
  std::filesystem::permissions(executable, std::filesystem::perms::none);
  if (!std::ifstream(executable).is_open()) {
    platform::Error denied = errorOf([&] { Lifetime lifetime(root, executable); });
    EXPECT_EQ(denied.domain(), platform::kPosixDomain);
    EXPECT_EQ(denied.code(), EACCES);
  }
  EXPECT_FALSE(std::filesystem::exists(root)) << "nothing is prepared before the executable";
}

TEST_F(LifetimeTest, UnwritableFirstHeartbeatFreesTheLockAtOnce) {
  // A directory in the record's place makes the atomic rename fail.
  std::filesystem::create_directories(statePath());

  platform::Error error = errorOf([&] { Lifetime lifetime(root, executable); });
  EXPECT_EQ(error.domain(), platform::kPosixDomain) << error.description();
  EXPECT_TRUE(lockIsFree(root));

  std::filesystem::remove(statePath());
  Lifetime lifetime(root, executable);
  EXPECT_EQ(FinderConversion::read<State>(statePath()).instance, lifetime.instance());
}

}  // namespace
}  // namespace lifetime_testing
