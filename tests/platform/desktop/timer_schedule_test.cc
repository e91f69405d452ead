// The timer rules both run loops share, on a clock the test sets by hand: dates, missed ticks,
// ties, blocks that nest or outlast their interval, and invalidation.
#include "platform/desktop/timer_schedule.h"

#include <gtest/gtest.h>

#include <string>

namespace platform {
namespace {

class TimerScheduleTest : public ::testing::Test {
 protected:
  MonotonicTime at(double seconds) const { return MonotonicTime(Seconds(seconds)); }
  // runTo moves the clock to `seconds` and fires what is due there.
  void runTo(double seconds) {
    clock = at(seconds);
    schedule.fireDue();
  }

  MonotonicTime clock = at(0);
  TimerSchedule schedule{[this] { return clock; }};
  std::uint64_t order = 0;
};

TEST_F(TimerScheduleTest, FirstDateIsOneIntervalOnAndMissedTicksAreSkipped) {
  int ticks = 0;
  auto timer = schedule.add(
      Seconds(1), [&] { ++ticks; }, order++);
  ASSERT_TRUE(schedule.next());
  EXPECT_EQ(schedule.next()->date, at(1));
  runTo(0.999);
  EXPECT_EQ(ticks, 0) << "never early";
  runTo(1);
  EXPECT_EQ(ticks, 1);
  EXPECT_EQ(schedule.next()->date, at(2));
  runTo(4.5);  // three ticks missed: one firing, then the first tick after the clock
  EXPECT_EQ(ticks, 2);
  EXPECT_EQ(schedule.next()->date, at(5));
  runTo(5);
  EXPECT_EQ(ticks, 3);
  EXPECT_EQ(schedule.next()->date, at(6));
}

TEST_F(TimerScheduleTest, ABlockThatOutlastsItsIntervalComesBackAfterItReturned) {
  int ticks = 0;
  auto timer = schedule.add(
      Seconds(1),
      [&] {
        ++ticks;
        clock += Seconds(2.5);  // the block takes 2.5 s
      },
      order++);
  runTo(1);
  EXPECT_EQ(ticks, 1);
  EXPECT_EQ(clock, at(3.5));
  EXPECT_EQ(schedule.next()->date, at(4));
}

TEST_F(TimerScheduleTest, DueTimersFireInDateOrderTiesInTheOwnersOrder) {
  std::string log;
  auto late = schedule.add(
      Seconds(3), [&] { log += 'c'; }, 5);
  auto tieSecond = schedule.add(
      Seconds(2), [&] { log += 'b'; }, 2);
  auto tieFirst = schedule.add(
      Seconds(2), [&] { log += 'a'; }, 1);
  auto zero = schedule.add(
      Seconds(0), [&] { log += 'z'; }, 9);
  EXPECT_EQ(schedule.next()->date, at(0) + kMinimumTimerInterval) << "no zero interval";
  zero->invalidate();
  EXPECT_EQ(schedule.next()->date, at(2));
  EXPECT_EQ(schedule.next()->order, 1u);
  runTo(3);
  EXPECT_EQ(log, "abc");

  log.clear();
  clock = at(4);  // a and b due at 4, c at 6
  EXPECT_TRUE(schedule.fireNext());
  EXPECT_EQ(log, "a");
  EXPECT_TRUE(schedule.fireNext());
  EXPECT_FALSE(schedule.fireNext()) << "c is not due yet";
  EXPECT_EQ(log, "ab");
}

TEST_F(TimerScheduleTest, ANestedLoopFiresOtherTimersButNotTheRunningOne) {
  std::string log;
  auto ticker = schedule.add(
      Seconds(1), [&] { log += 't'; }, order++);
  auto nester = schedule.add(
      Seconds(0.5),
      [&] {
        log += '[';
        for (double second : {1.0, 1.5, 2.0, 2.5}) runTo(second);  // the block runs the loop
        log += ']';
      },
      order++);
  runTo(0.5);
  EXPECT_EQ(log, "[tt]") << "the nester is due at 1.0, 1.5, ... inside, but is running";
  EXPECT_EQ(schedule.next()->date, at(3)) << "both: the nester's next tick after 2.5";
  EXPECT_EQ(schedule.next()->order, 0u);
}

TEST_F(TimerScheduleTest, InvalidationStopsForGoodAndLetsTheBlockGo) {
  auto held = std::make_shared<int>(0);
  std::shared_ptr<Timer> self;
  self = schedule.add(
      Seconds(1),
      [&, held] {
        if (++*held == 2) self->invalidate();
      },
      order++);
  std::shared_ptr<Timer> other = schedule.add(
      Seconds(1), [] {}, order++);
  other->invalidate();
  runTo(1);
  runTo(2);
  EXPECT_EQ(*held, 2);
  EXPECT_EQ(held.use_count(), 2) << "the block runs no more but is kept until the next pass";
  runTo(3);
  EXPECT_EQ(*held, 2);
  EXPECT_EQ(held.use_count(), 1) << "the invalidated timer's block is gone";
  EXPECT_FALSE(schedule.next());
  EXPECT_FALSE(schedule.fireNext());
}

TEST_F(TimerScheduleTest, TimersAddedByABlockWaitForTheNextPass) {
  std::string log;
  std::shared_ptr<Timer> added;
  auto adder = schedule.add(
      Seconds(1),
      [&] {
        log += 'a';
        if (!added) {
          added = schedule.add(
              Seconds(0.5), [&] { log += 'n'; }, order++);
          clock += Seconds(1);  // the new timer is due before this pass ends
        }
      },
      order++);
  runTo(1);
  EXPECT_EQ(log, "a");
  schedule.fireDue();
  EXPECT_EQ(log, "an");
}

TEST(TimerScheduleLifetime, TheScheduleLetsGoOfBlocksThatHoldTheirOwnTimer) {
  auto held = std::make_shared<int>(0);
  {
    MonotonicTime clock{};
    TimerSchedule schedule([&] { return clock; });
    auto timer = schedule.add(
        Seconds(1), [held] {}, 0);
    // A block holding its timer: without the schedule letting go this would never be freed.
    std::shared_ptr<Timer> cycle = timer;
    schedule.add(
        Seconds(1), [cycle, held] {}, 1);
  }
  EXPECT_EQ(held.use_count(), 1);
}

}  // namespace
}  // namespace platform
