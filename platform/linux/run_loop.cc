#include "platform/linux/run_loop.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <utility>

#include "platform/core/error.h"

namespace platform {

RunLoop::RunLoop() : wakeup_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
  if (wakeup_ < 0) throw errnoError(errno, "eventfd");
}

RunLoop::~RunLoop() {
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
  return timers_.add(interval, std::move(block), nextTimerOrder_++);
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
  timers_.fireDue();
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

void RunLoop::wait(MonotonicTime until) {
  if (auto timer = timers_.next()) until = std::min(until, timer->date);
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
