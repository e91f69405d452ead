// retireIdle against real provider processes and against lock holders staged by the test.
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "exchange/record_files.h"
#include "platform/core/files.h"
#include "tests/lifetime/lifetime_fixture.h"

namespace lifetime_testing {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using Lifetime = FinderProviderLifetime;

double secondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

State freshState(double age) {
  State state;
  state.instance = platform::Uuid::random();
  state.pid = 4242;
  state.executableHash = std::string(64, 'a');
  state.payloadVersion = "1.0";
  state.updated = platform::secondsSinceReferenceDate() - age;
  return state;
}

// Holds the provider lock of `root` the way a provider process would, without a heartbeat.
platform::LockFile holdLock(const std::filesystem::path& root) {
  std::filesystem::create_directories(root);
  auto file = platform::LockFile::open(root / "provider.lock");
  EXPECT_TRUE(file && file->tryLockExclusive());
  return std::move(*file);
}

TEST_F(LifetimeTest, RetireIdleWithoutProviderReturnsAtOnce) {
  auto start = Clock::now();
  Lifetime::retireIdle(root);
  EXPECT_LT(secondsSince(start), 0.5);
  EXPECT_EQ(std::filesystem::status(root).permissions(), std::filesystem::perms::owner_all);
  EXPECT_TRUE(std::filesystem::is_regular_file(lockPath()));
  EXPECT_FALSE(std::filesystem::exists(retirePath())) << "no request without a provider";
  EXPECT_FALSE(std::filesystem::exists(statePath()));
  EXPECT_TRUE(lockIsFree(root)) << "the lock is not kept";
}

TEST_F(LifetimeTest, RetireIdleEndsAnIdleProviderProcess) {
  ChildProcess provider = startProvider();
  State state = waitForState(provider.pid());

  auto start = Clock::now();
  Lifetime::retireIdle(root);
  EXPECT_LT(secondsSince(start), 1.5) << "one 0.2 s tick should do";
  EXPECT_EQ(provider.waitFor(5s), 0) << providerOutput();
  std::string request = readFile(retirePath());
  EXPECT_EQ(request, "\"" + state.instance.text() + "\"");
  EXPECT_EQ(request.size(), 38u);
  EXPECT_TRUE(lockIsFree(root));
}

TEST_F(LifetimeTest, RetireIdleGivesUpOnABusyProviderWhichLeavesLater) {
  std::filesystem::path busy = directory / "busy";
  writeFile(busy, "");
  ChildProcess provider = startProvider(busy);
  State state = waitForState(provider.pid());

  auto start = Clock::now();
  EXPECT_EQ(failureOf([&] { Lifetime::retireIdle(root); }),
            sentence(Lifetime::kProviderStillRetiringSentence));
  EXPECT_GE(secondsSince(start), 3.0);
  EXPECT_LT(secondsSince(start), 4.5);
  EXPECT_EQ(provider.waitFor(0ms), std::nullopt) << "a busy provider keeps running";
  EXPECT_EQ(readFile(retirePath()), "\"" + state.instance.text() + "\"") << "the request stays";

  std::filesystem::remove(busy);
  EXPECT_EQ(provider.waitFor(5s), 0) << "once idle, the asked provider ends by itself";
}

TEST_F(LifetimeTest, RetireIdleTakesAHeartbeatFromTheFutureAsFresh) {
  platform::LockFile lock = holdLock(root);
  State state = freshState(-60.0);
  writeFile(statePath(), FinderConversion::encode(state));
  std::thread releaser([&lock] {
    std::this_thread::sleep_for(300ms);
    lock.close();
  });

  Lifetime::retireIdle(root);
  releaser.join();
  EXPECT_EQ(readFile(retirePath()), "\"" + state.instance.text() + "\"");
}

// A holder whose record is missing, unreadable, stale or of another version is not asked.
TEST_F(LifetimeTest, RetireIdleLeavesASilentProviderAlone) {
  struct Case {
    const char* name;
    std::function<void(const std::filesystem::path& state)> stage;
    std::function<void(const platform::Error&)> check;
  };
  auto expectSilent = [](const platform::Error& error) {
    EXPECT_EQ(describe(error), sentence(Lifetime::kProviderSilentSentence));
  };
  auto writeState = [](State state) {
    return [state](const std::filesystem::path& path) {
      writeFile(path, FinderConversion::encode(state));
    };
  };
  State otherVersion = freshState(0.0);
  otherVersion.version = 2;
  const std::vector<Case> cases = {
      {"heartbeat exactly 3 s old", writeState(freshState(3.0)), expectSilent},
      {"heartbeat a minute old", writeState(freshState(60.0)), expectSilent},
      {"fresh record of version 2", writeState(otherVersion), expectSilent},
      {"record missing", [](const std::filesystem::path&) {},
       [](const platform::Error& error) {
         EXPECT_EQ(error.domain(), platform::kPosixDomain);
         EXPECT_EQ(error.code(), ENOENT);
       }},
      {"record is a link to a fresh record",
       [&](const std::filesystem::path& path) {
         writeFile(directory / "linked.json", FinderConversion::encode(freshState(0.0)));
         std::filesystem::create_symlink(directory / "linked.json", path);
       },
       [](const platform::Error& error) {
         EXPECT_EQ(describe(error), sentence(FinderConversion::kInvalidRecordSentence));
       }},
      {"record without updated",
       [](const std::filesystem::path& path) {
         writeFile(path, R"({"version":1,"instance":")" + platform::Uuid::random().text() +
                             R"(","pid":1,"executableHash":"","payloadVersion":""})");
       },
       [](const platform::Error& error) { EXPECT_EQ(error.domain(), platform::kJsonDomain); }},
  };
  platform::LockFile lock = holdLock(root);
  for (const Case& testCase : cases) {
    SCOPED_TRACE(testCase.name);
    std::filesystem::remove(statePath());
    testCase.stage(statePath());
    auto start = Clock::now();
    testCase.check(errorOf([&] { Lifetime::retireIdle(root); }));
    EXPECT_LT(secondsSince(start), 0.5) << "nothing to wait for";
    EXPECT_FALSE(std::filesystem::exists(retirePath())) << "no request written";
  }
}

TEST_F(LifetimeTest, RetireIdleRefusesALinkNamedProviderLock) {
  std::filesystem::create_directories(root);
  std::filesystem::path target = directory / "elsewhere.lock";
  std::filesystem::create_symlink(target, lockPath());
  EXPECT_EQ(failureOf([&] { Lifetime::retireIdle(root); }),
            sentence(Lifetime::kProviderLockUnopenableSentence));
  EXPECT_TRUE(std::filesystem::is_symlink(lockPath()));
  EXPECT_FALSE(std::filesystem::exists(target));
}

}  // namespace
}  // namespace lifetime_testing
