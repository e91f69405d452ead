#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "platform/desktop/desktop.h"
#include "platform/desktop/posted_work.h"
#include "platform/desktop/timer_schedule.h"

namespace platform {

// RunLoopSource is a descriptor the run loop watches for another component (the Services bus).
// The loop polls descriptor() for events() until deadline(), then calls perform() after every
// wait, ready or not, so the source can also handle its own timeouts. A source is never
// performed re-entrantly: a runUntil nested inside perform() skips it.
class RunLoopSource {
 public:
  virtual int descriptor() const = 0;  // -1: nothing to watch now
  virtual short events() const = 0;
  virtual std::optional<MonotonicTime> deadline() const = 0;
  virtual void perform() = 0;

 protected:
  ~RunLoopSource() = default;
};

// RunLoop is the main thread's loop: repeating timers, work posted from any thread and
// descriptor sources, on the monotonic clock. runUntil may nest (a timer block or posted work
// may run it again); the timers' dates and firing rules are TimerSchedule's. Only post() may be
// called from other threads. Not copyable; the owner keeps it for the life of the thread.
class RunLoop {
 public:
  RunLoop();
  ~RunLoop();
  RunLoop(const RunLoop&) = delete;
  RunLoop& operator=(const RunLoop&) = delete;

  static MonotonicTime now();

  // runUntil serves due timers, posted work and ready sources, waiting in between, until `date`;
  // it makes at least one pass even when `date` has passed.
  void runUntil(MonotonicTime date);
  // runForever serves like runUntil without an end.
  [[noreturn]] void runForever();

  std::shared_ptr<Timer> scheduleRepeatingTimer(Seconds interval, std::function<void()> block);
  // post queues `work` for the loop's thread and wakes it; callable from any thread.
  void post(std::function<void()> work);

  // stop makes the innermost runUntil return after its current pass, before its date; for a
  // source whose event ends the caller's wait. Main thread only.
  void stop() { stopRequested_ = true; }

  void addSource(RunLoopSource& source);
  void removeSource(RunLoopSource& source);

 private:
  struct SourceEntry {
    RunLoopSource* source;
    bool performing;
  };

  void fireDueTimers();
  void performSources();
  void wait(MonotonicTime until);
  void drainWakeup();

  int wakeup_ = -1;  // eventfd, close-on-exec, non-blocking
  TimerSchedule timers_{&RunLoop::now};
  std::uint64_t nextTimerOrder_ = 0;
  std::vector<SourceEntry> sources_;
  PostedWork posted_;
  bool stopRequested_ = false;
};

}  // namespace platform
