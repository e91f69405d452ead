#include "platform/testing/processes.h"

#include <signal.h>

#include <fstream>
#include <string>

namespace platform::testing {

bool processAlive(int pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  if (!std::getline(stat, line)) return false;
  const std::size_t close = line.rfind(')');
  return close != std::string::npos && close + 2 < line.size() && line[close + 2] != 'Z';
}

void sendSignal(int pid, int signal) {
  ::kill(pid, signal);
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
