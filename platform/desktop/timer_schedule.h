#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "platform/desktop/desktop.h"

namespace platform {

// A timer's interval is never shorter than this, so a zero interval cannot spin a loop.
inline constexpr Seconds kMinimumTimerInterval{0.0001};

// TimerSchedule holds the repeating timers of one run loop and their dates, on whatever clock
// the loop runs by: the real loop drives it with the monotonic clock, the test double with its
// virtual one, so both fire timers by the same rules:
//   - the first date is one interval after the timer was added;
//   - after a firing the next date is the first tick after the clock's time once the block has
//     returned: missed ticks are skipped, not made up, and a timer never fires early;
//   - a timer is not fired again while its own block runs (a loop nested inside the block skips
//     it, and it may fire in that loop's later passes only after the block returned);
//   - an invalidated timer never fires again; its block is let go once it is not running, and
//     every block when the schedule goes.
// Not thread-safe: the loop's thread only. Blocks may add timers, invalidate any timer and
// nest the loop (and so the schedule's firing).
class TimerSchedule {
 public:
  using Clock = std::function<MonotonicTime()>;

  // Due is when the first timer that may fire is due, and its place among the owner's events.
  struct Due {
    MonotonicTime date;
    std::uint64_t order;
  };

  explicit TimerSchedule(Clock clock);
  ~TimerSchedule();
  TimerSchedule(const TimerSchedule&) = delete;
  TimerSchedule& operator=(const TimerSchedule&) = delete;

  // add schedules `block` every `interval` (raised to kMinimumTimerInterval). `order` breaks
  // ties between equal dates, smaller first; the owner numbers timers together with any events
  // of its own that it interleaves with them, so that ties go in the order things were set up.
  std::shared_ptr<Timer> add(Seconds interval, std::function<void()> block, std::uint64_t order);

  // next: the earliest date of a timer that may fire (valid, its block not running).
  std::optional<Due> next() const;

  // fireDue fires, in date order, each timer that is due by the clock when the call begins,
  // once; timers added meanwhile wait for the next call.
  void fireDue();
  // fireNext fires only the first timer due by the clock; false when none is due.
  bool fireNext();

 private:
  class ScheduledTimer;

  void forgetInvalidated();

  Clock clock_;
  std::vector<std::shared_ptr<ScheduledTimer>> timers_;
};

}  // namespace platform
