#pragma once

// Test support for processes a test did not start itself (providers started by the bus, hosts
// launched by them) and for the signal state a test hands on to its children. Children a test
// starts are platform::ChildProcess (platform/core/spawn.h).
#include <filesystem>
#include <functional>
#include <vector>

namespace platform::testing {

// processAlive: a process with this id exists and one of its threads at least is not a zombie
// (a killed process holds its descriptors, and so its locks, until its last thread is gone).
bool processAlive(int pid);
// processesRunning: the live processes (zombies left out) whose program is the file
// `executable` (links resolved on both sides), in PID order. Unlike a PID read from a record,
// this never names an unrelated process that reused the number.
std::vector<int> processesRunning(const std::filesystem::path& executable);
// sendSignal sends `signal` to `pid`; errors are dropped.
void sendSignal(int pid, int signal);
inline constexpr int kSignalStop = 19;      // SIGSTOP on Linux
inline constexpr int kSignalContinue = 18;  // SIGCONT on Linux
inline constexpr int kSignalTerminate = 15;

// kCannotDropPrivileges is what runUnprivileged answers when it cannot run `body` without them.
inline constexpr int kCannotDropPrivileges = 77;
// runUnprivileged runs `body` in a forked child without the privileges that let root read any
// file (as root the child first enters a user namespace of its own, where it holds no
// capability over the files outside it) and gives its result as the child's exit status (0 to
// 255); kCannotDropPrivileges when that cannot be arranged. Call it with one thread running.
int runUnprivileged(const std::function<int()>& body);

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
