#include "platform/testing/processes.h"

#include <sched.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <fstream>
#include <string>
#include <system_error>

namespace platform::testing {

namespace {

// taskRuns: the task whose stat file this is exists and is not a zombie.
bool taskRuns(const std::filesystem::path& statFile) {
  std::ifstream stat(statFile);
  std::string line;
  if (!std::getline(stat, line)) return false;
  const std::size_t close = line.rfind(')');
  return close != std::string::npos && close + 2 < line.size() && line[close + 2] != 'Z';
}

}  // namespace

bool processAlive(int pid) {
  // Every thread counts: the first one of a killed process may already be a zombie while the
  // others still end, and they hold the process's descriptors (and so its locks) until then.
  const std::filesystem::path process = "/proc/" + std::to_string(pid);
  if (taskRuns(process / "stat")) return true;
  std::error_code error;
  for (const auto& task : std::filesystem::directory_iterator(process / "task", error)) {
    if (taskRuns(task.path() / "stat")) return true;
  }
  return false;
}

std::vector<int> processesRunning(const std::filesystem::path& executable) {
  std::error_code error;
  const std::filesystem::path wanted = std::filesystem::canonical(executable, error);
  std::vector<int> pids;
  if (error) return pids;
  for (const auto& entry : std::filesystem::directory_iterator("/proc", error)) {
    const std::string name = entry.path().filename().string();
    if (name.empty() || !std::all_of(name.begin(), name.end(), ::isdigit)) continue;
    std::error_code unreadable;
    const std::filesystem::path program =
        std::filesystem::read_symlink(entry.path() / "exe", unreadable);
    if (!unreadable && program == wanted && processAlive(std::stoi(name))) {
      pids.push_back(std::stoi(name));
    }
  }
  std::sort(pids.begin(), pids.end());
  return pids;
}

void sendSignal(int pid, int signal) {
  ::kill(pid, signal);
}

int runUnprivileged(const std::function<int()>& body) {
  const pid_t child = ::fork();
  if (child < 0) return kCannotDropPrivileges;
  if (child == 0) {
    if (::geteuid() == 0 && ::unshare(CLONE_NEWUSER) != 0) ::_exit(kCannotDropPrivileges);
    int status = kCannotDropPrivileges;
    try {
      status = body();
    } catch (...) {
      status = 255;
    }
    ::_exit(status);
  }
  int status = 0;
  while (::waitpid(child, &status, 0) < 0) {
    if (errno != EINTR) return 255;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : 255;
}

BlockedSignal::BlockedSignal(int signal) : signal_(signal) {
  sigset_t set;
  sigset_t previous;
  sigemptyset(&set);
  sigaddset(&set, signal);
  ::pthread_sigmask(SIG_BLOCK, &set, &previous);
  wasBlocked_ = sigismember(&previous, signal) == 1;
}

BlockedSignal::~BlockedSignal() {
  if (wasBlocked_) return;
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, signal_);
  ::pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
}

}  // namespace platform::testing
