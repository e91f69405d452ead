// The lifecycle lock with real flock, a second process and a launched child.
#include <gtest/gtest.h>

#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "exchange/record_files.h"
#include "platform/core/spawn.h"
#include "support/test_support.h"

namespace test_support {
namespace {

using namespace FinderConversion;

const std::string kHeld = "Another Tonebrook is changing the add-on. Try again shortly.";
const std::string kUnopenable = "The add-on lock cannot be opened.";

platform::SpawnOptions program(std::vector<std::string> arguments) {
  platform::SpawnOptions options;
  options.arguments = std::move(arguments);
  return options;
}

TEST(WithLockTest, CreatesTheRootAndAnEmptyPrivateLockFile) {
  TempDirectory dir;
  const std::filesystem::path root = dir / "a" / "state";
  EXPECT_EQ(withLock(root, [] { return 42; }), 42);
  EXPECT_EQ(permissions(dir / "a"), std::filesystem::perms::owner_all);
  EXPECT_EQ(permissions(root), std::filesystem::perms::owner_all);
  EXPECT_EQ(permissions(root / "lifecycle.lock"),
            std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
  EXPECT_EQ(std::filesystem::file_size(root / "lifecycle.lock"), 0u);
  EXPECT_EQ(names(root), std::set<std::string>{"lifecycle.lock"});
}

TEST(LifecycleLockTest, HeldWhileTheObjectLivesAndPassedOnByAMove) {
  TempDirectory dir;
  std::optional<LifecycleLock> moved;
  {
    LifecycleLock first = LifecycleLock::acquire(dir.path());
    EXPECT_FAILURE_SENTENCE(static_cast<void>(LifecycleLock::acquire(dir.path())), kHeld);
    moved.emplace(std::move(first));
  }  // the moved-from lock goes and gives nothing back
  EXPECT_FAILURE_SENTENCE(static_cast<void>(LifecycleLock::acquire(dir.path())), kHeld);
  EXPECT_FAILURE_SENTENCE(withLock(dir.path(), [] {}), kHeld);
  moved.reset();
  EXPECT_NO_THROW(static_cast<void>(LifecycleLock::acquire(dir.path())));
  EXPECT_NO_THROW(withLock(dir.path(), [] {}));
}

TEST(WithLockTest, NestedUseIsRefusedAndTheLockIsReleasedOnEveryWayOut) {
  TempDirectory dir;
  bool innerRan = false;
  withLock(dir.path(),
           [&] { EXPECT_FAILURE_SENTENCE(withLock(dir.path(), [&] { innerRan = true; }), kHeld); });
  EXPECT_FALSE(innerRan);

  EXPECT_THROW(withLock(dir.path(), []() -> int { throw std::runtime_error("inner"); }),
               std::runtime_error);
  EXPECT_FAILURE_SENTENCE(withLock(dir.path(), [] { throw failure("Own sentence."); }),
                          "Own sentence.");
  EXPECT_NO_THROW(withLock(dir.path(), [] {}));  // released after both failures
}

TEST(WithLockTest, AnotherProcessHoldingTheLockRefusesAtOnce) {
  TempDirectory dir;
  platform::ChildProcess holder =
      platform::ChildProcess::spawn(program({EXCHANGE_LOCK_HOLDER, dir.path().string()}));
  ASSERT_TRUE(waitUntil([&] { return std::filesystem::exists(dir / "holding"); }));

  bool ran = false;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FAILURE_SENTENCE(withLock(dir.path(), [&] { ran = true; }), kHeld);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500));
  EXPECT_FALSE(ran);

  writeText(dir / "release", "");
  EXPECT_TRUE(waitUntil([&] {
    try {
      withLock(dir.path(), [&] { ran = true; });
      return true;
    } catch (const platform::Error&) {
      return false;
    }
  }));
  EXPECT_TRUE(ran);
  EXPECT_EQ(holder.waitFor(std::chrono::seconds(10)), 0) << "it held the lock";
}

TEST(WithLockTest, AProgramStartedUnderTheLockDoesNotInheritItsDescriptor) {
  // The host is launched during a delivery; an inherited descriptor would carry the flock into
  // it. The shell lists its own open descriptors, all inherited from this process: only
  // close-on-exec may keep the lock out, so this child keeps what it inherits.
  TempDirectory dir;
  const std::filesystem::path listing = dir / "descriptors.txt";
  withLock(dir / "state", [&] {
    platform::SpawnOptions options = program({"/bin/sh", "-c", "ls -l /proc/$$/fd"});
    options.output = platform::StreamTarget::toFile(listing);
    options.closeInheritedDescriptors = false;
    ASSERT_EQ(platform::ChildProcess::spawn(options).wait(), 0);
  });
  const std::string descriptors = readText(listing);
  EXPECT_NE(descriptors.find("descriptors.txt"), std::string::npos) << descriptors;
  EXPECT_EQ(descriptors.find("lifecycle.lock"), std::string::npos) << descriptors;
}

TEST(WithLockTest, ALockFileThatIsNotARegularFileCannotBeOpened) {
  struct Case {
    const char* name;
    void (*make)(const std::filesystem::path& lock);
  };
  const Case cases[] = {
      {"link to a valid lock file",
       [](const std::filesystem::path& lock) {
         writeText(lock.parent_path() / "real.lock", "");
         std::filesystem::create_symlink(lock.parent_path() / "real.lock", lock);
       }},
      {"dangling link",
       [](const std::filesystem::path& lock) {
         std::filesystem::create_symlink(lock.parent_path() / "nowhere", lock);
       }},
      {"directory",
       [](const std::filesystem::path& lock) { std::filesystem::create_directory(lock); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDirectory dir;
    c.make(dir / "lifecycle.lock");
    bool ran = false;
    EXPECT_FAILURE_SENTENCE(withLock(dir.path(), [&] { ran = true; }), kUnopenable);
    EXPECT_FALSE(ran);
    EXPECT_FALSE(std::filesystem::exists(dir / "nowhere"));  // nothing created through a link
  }
}

TEST(WithLockTest, RootThatCannotBePreparedPassesTheFileSystemError) {
  TempDirectory dir;
  writeText(dir / "file", "x");
  EXPECT_ERRNO(withLock(dir / "file" / "state", [] {}), ENOTDIR);
}

}  // namespace
}  // namespace test_support
