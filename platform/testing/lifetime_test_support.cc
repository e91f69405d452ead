#include "platform/testing/lifetime_test_support.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <thread>
#include <utility>

#include "platform/core/error.h"

namespace platform::testing {
namespace {

// Owns the spawn attributes and file actions for one call.
struct SpawnSetup {
  posix_spawn_file_actions_t actions{};
  posix_spawnattr_t attributes{};

  explicit SpawnSetup(const std::filesystem::path& output) {
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attributes);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, output.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK);
  }
  SpawnSetup(const SpawnSetup&) = delete;
  SpawnSetup& operator=(const SpawnSetup&) = delete;
  SpawnSetup(SpawnSetup&&) = delete;
  SpawnSetup& operator=(SpawnSetup&&) = delete;
  ~SpawnSetup() {
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
  }
};

int statusOf(int waitStatus) {
  if (WIFEXITED(waitStatus)) return WEXITSTATUS(waitStatus);
  if (WIFSIGNALED(waitStatus)) return 128 + WTERMSIG(waitStatus);
  return -1;
}

}  // namespace

ChildProcess ChildProcess::spawn(const std::vector<std::string>& arguments,
                                 const std::filesystem::path& output) {
  std::vector<char*> argv;
  argv.reserve(arguments.size() + 1);
  for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  SpawnSetup setup(output);
  pid_t pid = -1;
  int result = posix_spawn(&pid, argv[0], &setup.actions, &setup.attributes, argv.data(), environ);
  if (result != 0) throw errnoError(result, arguments.front());
  return ChildProcess(pid);
}

ChildProcess::ChildProcess(ChildProcess&& other) noexcept
    : pid_(std::exchange(other.pid_, -1)), status_(other.status_) {}

ChildProcess& ChildProcess::operator=(ChildProcess&& other) noexcept {
  if (this != &other) {
    ChildProcess old(std::move(*this));
    pid_ = std::exchange(other.pid_, -1);
    status_ = other.status_;
  }
  return *this;
}

ChildProcess::~ChildProcess() {
  if (pid_ > 0 && !status_) {
    ::kill(pid_, SIGKILL);
    int waitStatus = 0;
    while (waitpid(pid_, &waitStatus, 0) < 0 && errno == EINTR) {
    }
  }
}

void ChildProcess::kill() {
  if (pid_ > 0 && !status_) ::kill(pid_, SIGKILL);
}

std::optional<int> ChildProcess::waitFor(std::chrono::milliseconds timeout) {
  auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!status_) {
    int waitStatus = 0;
    pid_t ended = waitpid(pid_, &waitStatus, WNOHANG);
    if (ended == pid_) {
      status_ = statusOf(waitStatus);
    } else if (ended < 0 && errno != EINTR) {
      throw errnoError(errno, "waitpid");
    } else if (std::chrono::steady_clock::now() >= deadline) {
      return std::nullopt;
    } else {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  }
  return status_;
}

}  // namespace platform::testing
