// The run-loop contract, run against the real desktop (real time, short intervals) and the
// double (virtual time): what provider code may rely on whichever desktop it gets.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "platform/desktop/desktop.h"
#include "platform/testing/fake_desktop.h"

namespace platform {
namespace {

struct RealDesktop {
  static std::unique_ptr<Desktop> make() { return makeDesktop(0, nullptr); }
};
struct DoubleDesktop {
  static std::unique_ptr<Desktop> make() { return std::make_unique<testing::FakeDesktop>(); }
};

template <typename Factory>
class RunLoopContract : public ::testing::Test {
 protected:
  std::unique_ptr<Desktop> desktop = Factory::make();
  MonotonicTime in(double seconds) const { return desktop->now() + Seconds(seconds); }
};

using Desktops = ::testing::Types<RealDesktop, DoubleDesktop>;
TYPED_TEST_SUITE(RunLoopContract, Desktops);

TYPED_TEST(RunLoopContract, TimersFireInDateOrderAndRunUntilReturnsAtTheDate) {
  std::string log;
  auto slow = this->desktop->scheduleRepeatingTimer(Seconds(0.09), [&] { log += 's'; });
  auto fast = this->desktop->scheduleRepeatingTimer(Seconds(0.04), [&] { log += 'f'; });
  const auto date = this->in(0.10);
  this->desktop->runUntil(date);
  EXPECT_GE(this->desktop->now(), date);
  EXPECT_LT(this->desktop->now(), date + Seconds(0.05));
  // fast is due first; slow fires once, after fast's first tick.
  ASSERT_FALSE(log.empty());
  EXPECT_EQ(log.front(), 'f');
  EXPECT_EQ(std::count(log.begin(), log.end(), 's'), 1) << log;
  EXPECT_LT(log.find('f'), log.find('s')) << log;
}

TYPED_TEST(RunLoopContract, FirstTickComesOneIntervalAfterScheduling) {
  int ticks = 0;
  auto timer = this->desktop->scheduleRepeatingTimer(Seconds(0.05), [&] { ++ticks; });
  this->desktop->runUntil(this->in(0.02));
  EXPECT_EQ(ticks, 0);
  this->desktop->runUntil(this->in(0.05));
  EXPECT_GE(ticks, 1);
}

TYPED_TEST(RunLoopContract, InvalidateStopsTheTimerEvenFromItsOwnBlock) {
  int ticks = 0;
  std::shared_ptr<Timer> timer;
  timer = this->desktop->scheduleRepeatingTimer(Seconds(0.01), [&] {
    if (++ticks == 2) timer->invalidate();
  });
  this->desktop->runUntil(this->in(0.08));
  EXPECT_EQ(ticks, 2);
}

TYPED_TEST(RunLoopContract, NestedRunUntilKeepsServingTimersButNotTheRunningBlock) {
  int ticks = 0;
  int depth = 0;
  int deepest = 0;
  auto ticker = this->desktop->scheduleRepeatingTimer(Seconds(0.02), [&] { ++ticks; });
  auto nester = this->desktop->scheduleRepeatingTimer(Seconds(0.01), [&] {
    deepest = std::max(deepest, ++depth);
    this->desktop->runUntil(this->in(0.1));
    --depth;
  });
  // nester fires at 0.01 and nests to 0.11; ticker keeps ticking inside, nester does not.
  this->desktop->runUntil(this->in(0.015));
  nester->invalidate();
  EXPECT_EQ(deepest, 1);
  EXPECT_GE(ticks, 4);
}

TYPED_TEST(RunLoopContract, WorkPostedFromOtherThreadsRunsOnTheLoopThreadInOrder) {
  std::vector<int> order;
  std::atomic<bool> onLoopThread = true;
  const auto loopThread = std::this_thread::get_id();
  std::thread poster([&] {
    for (int i = 0; i < 3; ++i) {
      this->desktop->post([&, i] {
        order.push_back(i);
        if (std::this_thread::get_id() != loopThread) onLoopThread = false;
      });
    }
  });
  poster.join();
  EXPECT_TRUE(order.empty());
  this->desktop->runUntil(this->in(0.01));
  EXPECT_EQ(order, (std::vector<int>{0, 1, 2}));
  EXPECT_TRUE(onLoopThread);
}

TYPED_TEST(RunLoopContract, PostedWorkMayNestRunUntilAndPostMore) {
  std::string log;
  this->desktop->post([&] {
    log += 'a';
    this->desktop->post([&] { log += 'c'; });
    this->desktop->runUntil(this->in(0.01));
    log += 'b';
  });
  this->desktop->runUntil(this->in(0.02));
  EXPECT_EQ(log, "acb");
}

TYPED_TEST(RunLoopContract, RunUntilAPastDateReturnsAtOnce) {
  const auto before = this->desktop->now();
  this->desktop->runUntil(before - Seconds(1));
  EXPECT_LT(this->desktop->now() - before, Seconds(0.05));
}

}  // namespace
}  // namespace platform
