#include "platform/core/run_tool.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>

extern char** environ;

namespace platform {
namespace {

// spawnQuietly starts the tool with 0-2 on /dev/null; every other descriptor of ours is
// close-on-exec, so the child inherits nothing else. The mask is reset because a caller's
// blocked signals would otherwise be blocked in the tool too.
bool spawnQuietly(std::vector<char*>& argv, pid_t& pid) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  for (int stream = 0; stream < 3; ++stream) {
    posix_spawn_file_actions_addopen(&actions, stream, "/dev/null",
                                     stream == 0 ? O_RDONLY : O_WRONLY, 0);
  }
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t none;
  sigemptyset(&none);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK);

  const int spawned = posix_spawnp(&pid, argv[0], &actions, &attributes, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  return spawned == 0;
}

}  // namespace

bool runTool(std::vector<std::string> arguments, std::initializer_list<int> accepted) {
  if (arguments.empty()) return false;
  std::vector<char*> argv;
  for (std::string& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);

  pid_t pid = 0;
  if (!spawnQuietly(argv, pid)) return false;
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return false;
  }
  if (!WIFEXITED(status)) return false;
  for (int code : accepted) {
    if (WEXITSTATUS(status) == code) return true;
  }
  return false;
}

}  // namespace platform
