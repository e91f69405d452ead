#include "platform/desktop/timer_schedule.h"

#include <algorithm>
#include <cmath>
#include <tuple>
#include <utility>

namespace platform {

class TimerSchedule::ScheduledTimer final : public Timer {
 public:
  ScheduledTimer(MonotonicTime first, Seconds interval, std::uint64_t place,
                 std::function<void()> block)
      : next(first), order(place), interval_(interval), block_(std::move(block)) {}

  void invalidate() override { valid = false; }

  // fire runs the block once, then moves the next date past the clock's time, skipping missed
  // ticks.
  void fire(const Clock& clock) {
    firing = true;
    block_();
    firing = false;
    const MonotonicTime now = clock();
    if (next <= now) {
      const double missed = std::floor((now - next) / interval_);
      next += interval_ * (missed + 1.0);
    }
  }
  void release() { block_ = nullptr; }
  bool mayFire() const { return valid && !firing; }
  bool before(const ScheduledTimer& other) const {
    return std::tie(next, order) < std::tie(other.next, other.order);
  }

  MonotonicTime next;
  std::uint64_t order;
  bool valid = true;
  bool firing = false;

 private:
  Seconds interval_;
  std::function<void()> block_;
};

TimerSchedule::TimerSchedule(Clock clock) : clock_(std::move(clock)) {}

TimerSchedule::~TimerSchedule() {
  // A block may hold its own timer; letting go of the blocks breaks that cycle.
  for (auto& timer : timers_) timer->release();
}

std::shared_ptr<Timer> TimerSchedule::add(Seconds interval, std::function<void()> block,
                                          std::uint64_t order) {
  interval = std::max(interval, kMinimumTimerInterval);
  auto timer =
      std::make_shared<ScheduledTimer>(clock_() + interval, interval, order, std::move(block));
  timers_.push_back(timer);
  return timer;
}

std::optional<TimerSchedule::Due> TimerSchedule::next() const {
  const ScheduledTimer* first = nullptr;
  for (const auto& timer : timers_) {
    if (timer->mayFire() && (first == nullptr || timer->before(*first))) first = timer.get();
  }
  if (first == nullptr) return std::nullopt;
  return Due{first->next, first->order};
}

void TimerSchedule::fireDue() {
  forgetInvalidated();
  // A copy: blocks may add timers or nest the loop, which changes timers_.
  auto due = timers_;
  std::erase_if(due, [now = clock_()](const auto& timer) { return timer->next > now; });
  std::sort(due.begin(), due.end(), [](const auto& a, const auto& b) { return a->before(*b); });
  for (const auto& timer : due) {
    if (timer->mayFire()) timer->fire(clock_);
  }
}

bool TimerSchedule::fireNext() {
  forgetInvalidated();
  const MonotonicTime now = clock_();
  std::shared_ptr<ScheduledTimer> first;  // held: the block may invalidate it or add timers
  for (const auto& timer : timers_) {
    if (timer->mayFire() && timer->next <= now && (!first || timer->before(*first))) {
      first = timer;
    }
  }
  if (!first) return false;
  first->fire(clock_);
  return true;
}

void TimerSchedule::forgetInvalidated() {
  std::erase_if(timers_, [](const auto& timer) {
    if (timer->valid || timer->firing) return false;
    timer->release();
    return true;
  });
}

}  // namespace platform
