#pragma once

// Test support for processes a test did not start itself (providers started by the bus, hosts
// launched by them) and for the signal state a test hands on to its children. Children a test
// starts are platform::ChildProcess (platform/core/spawn.h).
namespace platform::testing {

// processAlive: a process with this id exists and is not a zombie.
bool processAlive(int pid);
// sendSignal sends `signal` to `pid`; errors are dropped.
void sendSignal(int pid, int signal);
inline constexpr int kSignalStop = 19;      // SIGSTOP on Linux
inline constexpr int kSignalContinue = 18;  // SIGCONT on Linux
inline constexpr int kSignalTerminate = 15;

// BlockedSignal blocks `signal` in the calling thread while it lives, then restores the mask.
class BlockedSignal {
 public:
  explicit BlockedSignal(int signal);
  ~BlockedSignal();
  BlockedSignal(const BlockedSignal&) = delete;
  BlockedSignal& operator=(const BlockedSignal&) = delete;

 private:
  int signal_;
  bool wasBlocked_ = false;
};

}  // namespace platform::testing
