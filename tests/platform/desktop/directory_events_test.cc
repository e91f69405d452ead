// DirectoryEvents on real temporary directories, with files renamed in from another thread.
#include "platform/linux/directory_events.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "support/test_support.h"

namespace test_support {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

TEST(DirectoryEventsTest, WaitEndsWhenAFileIsRenamedInAndOnlyThen) {
  TempDirectory dir;
  std::filesystem::create_directory(dir / "watched");
  std::filesystem::create_directory(dir / "other");
  auto events = platform::DirectoryEvents::open(dir / "watched");
  ASSERT_TRUE(events);

  EXPECT_FALSE(events->wait(30ms)) << "nothing appeared";

  std::thread writer([&] {
    writeText(dir / "draft", "x");
    std::filesystem::rename(dir / "draft", dir / "other/elsewhere.json");  // not watched
    std::this_thread::sleep_for(100ms);
    writeText(dir / "draft", "y");
    std::filesystem::rename(dir / "draft", dir / "watched/answer.json");
  });
  const auto start = Clock::now();
  const bool woke = events->wait(5000ms);
  const auto waited = Clock::now() - start;
  writer.join();
  EXPECT_TRUE(woke);
  EXPECT_GE(waited, 90ms) << "a rename into another directory woke it";
  EXPECT_LT(waited, 2000ms) << "the rename into the watched directory did not wake it";

  // An entry that appeared before the wait is reported at once; waiting consumed it.
  writeText(dir / "watched/second.json", "z");
  EXPECT_TRUE(events->drain());
  EXPECT_FALSE(events->drain());
}

TEST(DirectoryEventsTest, NoWatchWhereThereIsNoDirectory) {
  TempDirectory dir;
  writeText(dir / "file", "x");
  for (const char* name : {"missing", "file"}) {
    EXPECT_FALSE(platform::DirectoryEvents::open(dir / name)) << name;
  }
}

}  // namespace
}  // namespace test_support
