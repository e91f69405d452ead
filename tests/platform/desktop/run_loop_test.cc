// The real run loop in real time: posted work wakes a waiting loop, and timers never fire early.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "platform/desktop/desktop.h"

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
  desktop->runUntil(start + Seconds(0.5));
  poster.join();
  ASSERT_TRUE(ranAt);
  EXPECT_LT(*ranAt - start, Seconds(0.3)) << "served when posted, not at the date";
  EXPECT_GE(desktop->now() - start, Seconds(0.5));
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

}  // namespace
}  // namespace platform
