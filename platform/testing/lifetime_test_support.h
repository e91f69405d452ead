#pragma once

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

// Test support for the provider lifetime suite: real child processes. Compiled only into test
// executables.
namespace platform::testing {

// ChildProcess is a spawned program: standard input on /dev/null, standard output and error
// into one file. Inherited descriptors are left alone, so a descriptor without close-on-exec
// shows up in the child, as it would in a launched host. The destructor kills (SIGKILL) and
// reaps a child that is still running.
class ChildProcess {
 public:
  // spawn starts arguments[0] (a path) with `arguments`; throws platform::Error on failure.
  static ChildProcess spawn(const std::vector<std::string>& arguments,
                            const std::filesystem::path& output);

  ChildProcess(ChildProcess&& other) noexcept;
  ChildProcess& operator=(ChildProcess&& other) noexcept;
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;
  ~ChildProcess();

  int pid() const noexcept { return pid_; }
  void kill();  // SIGKILL; the status is collected by the next wait
  // waitFor gives the exit status (128 + the signal number for a killed child) once the child
  // has ended, or nullopt when it is still running after `timeout`.
  std::optional<int> waitFor(std::chrono::milliseconds timeout);

 private:
  explicit ChildProcess(int pid) : pid_(pid) {}
  int pid_ = -1;
  std::optional<int> status_;
};

}  // namespace platform::testing
