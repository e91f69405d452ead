#pragma once

#include <deque>
#include <functional>
#include <mutex>
#include <utility>

namespace platform {

// PostedWork is the queue behind a run loop's post(): push() from any thread, runOne() on the
// loop's thread, first in, first out. Waking the loop is the owner's part.
class PostedWork {
 public:
  void push(std::function<void()> work) {
    const std::lock_guard lock(mutex_);
    queue_.push_back(std::move(work));
  }

  // runOne runs the oldest item outside the lock, so the item may post more or nest the loop;
  // false when the queue was empty.
  bool runOne() {
    std::function<void()> work;
    {
      const std::lock_guard lock(mutex_);
      if (queue_.empty()) return false;
      work = std::move(queue_.front());
      queue_.pop_front();
    }
    work();
    return true;
  }

 private:
  std::mutex mutex_;
  std::deque<std::function<void()>> queue_;
};

}  // namespace platform
