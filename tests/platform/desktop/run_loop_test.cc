// The real run loop in real time: posted work and entries in watched directories wake a waiting
// loop, and timers never fire early.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "platform/desktop/desktop.h"
#include "support/temp_directory.h"

namespace platform {
namespace {

TEST(RealRunLoop, WorkPostedFromAnotherThreadWakesAWaitingLoop) {
  auto desktop = makeDesktop(0, nullptr);
  const auto start = desktop->now();
  std::optional<MonotonicTime> ranAt;
  std::thread poster([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    desktop->post([&] { ranAt = desktop->now(); });
  });
  desktop->runUntil(start + Seconds(3));
  poster.join();
  ASSERT_TRUE(ranAt);
  // Far from the date, so that a loaded machine does not blur the two.
  EXPECT_LT(*ranAt - start, Seconds(1.5)) << "served when posted, not at the date";
  EXPECT_GE(desktop->now() - start, Seconds(3));
}

TEST(RealRunLoop, RepeatingTimersNeverFireEarly) {
  auto desktop = makeDesktop(0, nullptr);
  const auto start = desktop->now();
  std::vector<Seconds> ticks;
  auto timer = desktop->scheduleRepeatingTimer(Seconds(0.03),
                                               [&] { ticks.push_back(desktop->now() - start); });
  desktop->runUntil(start + Seconds(0.2));
  ASSERT_GE(ticks.size(), 3u);
  EXPECT_LE(ticks.size(), 6u);
  for (std::size_t i = 0; i < ticks.size(); ++i) {
    EXPECT_GE(ticks[i], Seconds(0.03) * static_cast<double>(i + 1)) << i;
  }
}

// A file renamed into the watched directory by another thread ends runUntil early; one renamed
// elsewhere does not, and once the watch is gone nothing does.
TEST(RealRunLoop, EntryRenamedIntoAWatchedDirectoryEndsRunUntil) {
  test_support::TempDirectory dir;
  std::filesystem::create_directory(dir / "answers");
  std::filesystem::create_directory(dir / "elsewhere");
  auto desktop = makeDesktop(0, nullptr);
  auto rename = [&](const char* target) {
    std::ofstream(dir / "draft") << "{}";
    std::filesystem::rename(dir / "draft", dir / target);
  };
  {
    std::unique_ptr<EntryWatch> watch = desktop->watchForEntries(dir / "answers");
    ASSERT_NE(watch, nullptr);
    const auto start = desktop->now();
    std::thread writer([&] {
      rename("elsewhere/a.json");
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      rename("answers/a.json");
    });
    desktop->runUntil(start + Seconds(5));
    writer.join();
    EXPECT_GE(desktop->now() - start, Seconds(0.09)) << "woken by another directory";
    EXPECT_LT(desktop->now() - start, Seconds(2)) << "not woken by the watched directory";
  }
  const auto start = desktop->now();
  std::thread writer([&] { rename("answers/b.json"); });
  desktop->runUntil(start + Seconds(0.3));
  writer.join();
  EXPECT_GE(desktop->now() - start, Seconds(0.3)) << "woken after the watch was destroyed";
}

// Where no watch can be made, watchForEntries says so, and callers fall back to looking in slices.
TEST(RealRunLoop, NoWatchWithoutADirectory) {
  test_support::TempDirectory dir;
  std::ofstream(dir / "file") << "x";
  auto desktop = makeDesktop(0, nullptr);
  for (const char* name : {"missing", "file"}) {
    EXPECT_EQ(desktop->watchForEntries(dir / name), nullptr) << name;
  }
}

}  // namespace
}  // namespace platform
