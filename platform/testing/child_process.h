#pragma once

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/desktop/desktop.h"

namespace platform::testing {

// ChildProcess is a real program started by an end-to-end test: its own environment (the
// test's, with `environment` set on top and `unset` removed), its working directory, standard
// input on /dev/null and standard output and error captured in files. The destructor kills
// (SIGKILL) and reaps a child still running.
class ChildProcess {
 public:
  struct Options {
    std::vector<std::string> arguments;  // program path first
    std::map<std::string, std::string> environment;
    std::vector<std::string> unset;
    std::filesystem::path workingDirectory;  // empty: the test's own
    std::filesystem::path output;            // standard output file (required)
    std::filesystem::path errors;            // standard error file (required)
  };

  // start spawns the program; throws Error when it cannot be spawned.
  explicit ChildProcess(Options options);
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  int pid() const noexcept { return pid_; }
  // waitFor reaps the child within `timeout`: its exit status, 128 + signal when a signal ended
  // it, nullopt when it is still running.
  std::optional<int> waitFor(Seconds timeout);
  std::string output() const;  // what it wrote to standard output so far
  std::string errors() const;  // what it wrote to standard error so far

 private:
  Options options_;
  int pid_ = -1;
  std::optional<int> status_;
};

// processAlive: a process with this id exists and is not a zombie.
bool processAlive(int pid);
// sendSignal sends `signal` to `pid`; errors are dropped.
void sendSignal(int pid, int signal);
inline constexpr int kSignalStop = 19;      // SIGSTOP on Linux
inline constexpr int kSignalContinue = 18;  // SIGCONT on Linux
inline constexpr int kSignalTerminate = 15;

}  // namespace platform::testing
