#include "platform/linux/run_loop.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <limits>
#include <utility>

#include "platform/core/error.h"

namespace platform {

// A timer's interval is never shorter than this, so a zero interval cannot spin the loop.
constexpr Seconds kMinimumInterval{0.0001};

class RunLoop::RepeatingTimer final : public Timer {
 public:
  RepeatingTimer(MonotonicTime first, Seconds interval, std::function<void()> block)
      : next(first), interval_(interval), block_(std::move(block)) {}

  void invalidate() override { valid = false; }

  // fire runs the block once and moves the next date past `now`, skipping missed ticks.
  void fire() {
    firing = true;
    block_();
    firing = false;
    const MonotonicTime now = RunLoop::now();
    if (next <= now) {
      const double missed = std::floor((now - next) / interval_);
      next += interval_ * (missed + 1.0);
    }
  }
  void release() { block_ = nullptr; }

  MonotonicTime next;
  bool valid = true;
  bool firing = false;

 private:
  Seconds interval_;
  std::function<void()> block_;
};

RunLoop::RunLoop() : wakeup_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
  if (wakeup_ < 0) throw errnoError(errno, "eventfd");
}

RunLoop::~RunLoop() {
  for (auto& timer : timers_) timer->release();
  ::close(wakeup_);
}

MonotonicTime RunLoop::now() {
  return std::chrono::time_point_cast<Seconds>(std::chrono::steady_clock::now());
}

void RunLoop::runUntil(MonotonicTime date) {
  for (;;) {
    fireDueTimers();
    while (posted_.runOne()) {
    }
    performSources();
    if (std::exchange(stopRequested_, false) || now() >= date) return;
    wait(date);
  }
}

void RunLoop::runForever() {
  for (;;) runUntil(MonotonicTime::max());
}

std::shared_ptr<Timer> RunLoop::scheduleRepeatingTimer(Seconds interval,
                                                       std::function<void()> block) {
  interval = std::max(interval, kMinimumInterval);
  auto timer = std::make_shared<RepeatingTimer>(now() + interval, interval, std::move(block));
  timers_.push_back(timer);
  return timer;
}

void RunLoop::post(std::function<void()> work) {
  posted_.push(std::move(work));
  const std::uint64_t one = 1;
  // A full counter (EAGAIN) still leaves the loop woken, so the result needs no check.
  [[maybe_unused]] const auto written = ::write(wakeup_, &one, sizeof one);
}

void RunLoop::addSource(RunLoopSource& source) {
  sources_.push_back({&source, false});
}

void RunLoop::removeSource(RunLoopSource& source) {
  std::erase_if(sources_, [&](const SourceEntry& entry) { return entry.source == &source; });
}

void RunLoop::fireDueTimers() {
  std::erase_if(timers_, [](const auto& timer) {
    if (timer->valid || timer->firing) return false;
    timer->release();
    return true;
  });
  // A copy: blocks may schedule timers or nest runUntil, which changes timers_.
  auto due = timers_;
  std::erase_if(due, [now = now()](const auto& timer) { return timer->next > now; });
  std::stable_sort(due.begin(), due.end(),
                   [](const auto& a, const auto& b) { return a->next < b->next; });
  for (const auto& timer : due) {
    if (timer->valid && !timer->firing) timer->fire();
  }
}

void RunLoop::performSources() {
  // By pointer, looked up again after each perform: a perform may add or remove sources.
  std::vector<RunLoopSource*> snapshot;
  for (const auto& entry : sources_) snapshot.push_back(entry.source);
  for (RunLoopSource* source : snapshot) {
    auto found = std::find_if(sources_.begin(), sources_.end(),
                              [&](const SourceEntry& entry) { return entry.source == source; });
    if (found == sources_.end() || found->performing) continue;
    found->performing = true;
    source->perform();
    found = std::find_if(sources_.begin(), sources_.end(),
                         [&](const SourceEntry& entry) { return entry.source == source; });
    if (found != sources_.end()) found->performing = false;
  }
}

std::optional<MonotonicTime> RunLoop::nextTimerDate() const {
  std::optional<MonotonicTime> next;
  for (const auto& timer : timers_) {
    if (!timer->valid || timer->firing) continue;
    if (!next || timer->next < *next) next = timer->next;
  }
  return next;
}

void RunLoop::wait(MonotonicTime until) {
  if (auto timer = nextTimerDate()) until = std::min(until, *timer);
  std::vector<pollfd> fds{{wakeup_, POLLIN, 0}};
  for (const auto& entry : sources_) {
    if (entry.performing) continue;
    if (auto deadline = entry.source->deadline()) until = std::min(until, *deadline);
    if (entry.source->descriptor() >= 0) {
      fds.push_back({entry.source->descriptor(), entry.source->events(), 0});
    }
  }
  int timeout = -1;
  if (until != MonotonicTime::max()) {
    const double milliseconds = std::ceil((until - now()).count() * 1000.0);
    timeout = static_cast<int>(std::clamp(milliseconds, 0.0, 86'400'000.0));
  }
  const int ready = ::poll(fds.data(), fds.size(), timeout);
  if (ready > 0 && (fds[0].revents & POLLIN) != 0) drainWakeup();
}

void RunLoop::drainWakeup() {
  std::uint64_t count = 0;
  [[maybe_unused]] const auto read = ::read(wakeup_, &count, sizeof count);
}

}  // namespace platform
