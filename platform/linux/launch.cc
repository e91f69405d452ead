#include "platform/linux/launch.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <thread>
#include <utility>

#include "platform/desktop/bundle.h"
#include "platform/core/error.h"

extern char** environ;  // NOLINT: the process environment, passed on to the child

namespace platform {
namespace {

// SpawnSettings owns the posix_spawn attributes and file actions of one launch.
class SpawnSettings {
 public:
  SpawnSettings() {
    ::posix_spawnattr_init(&attributes_);
    ::posix_spawn_file_actions_init(&actions_);
    sigset_t empty;
    sigset_t all;
    sigemptyset(&empty);
    sigfillset(&all);
    ::posix_spawnattr_setsigmask(&attributes_, &empty);
    ::posix_spawnattr_setsigdefault(&attributes_, &all);
    ::posix_spawnattr_setflags(&attributes_,
                               POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    ::posix_spawn_file_actions_addopen(&actions_, 0, "/dev/null", O_RDONLY, 0);
    ::posix_spawn_file_actions_addopen(&actions_, 1, "/dev/null", O_WRONLY, 0);
    ::posix_spawn_file_actions_addopen(&actions_, 2, "/dev/null", O_WRONLY, 0);
    // Descriptors are close-on-exec already; this also covers any a library opened without it.
    ::posix_spawn_file_actions_addclosefrom_np(&actions_, 3);
  }
  ~SpawnSettings() {
    ::posix_spawn_file_actions_destroy(&actions_);
    ::posix_spawnattr_destroy(&attributes_);
  }
  SpawnSettings(const SpawnSettings&) = delete;
  SpawnSettings& operator=(const SpawnSettings&) = delete;

  int spawn(pid_t& pid, const std::string& executable, const std::vector<std::string>& args) {
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(executable.c_str()));  // NOLINT: exec's signature
    for (const auto& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));  // NOLINT
    argv.push_back(nullptr);
    return ::posix_spawn(&pid, executable.c_str(), &actions_, &attributes_, argv.data(), environ);
  }

 private:
  posix_spawnattr_t attributes_{};
  posix_spawn_file_actions_t actions_{};
};

// report calls the completion; what it throws is dropped so that the child is still reaped.
void report(const LaunchCompletion& completion, std::optional<RunningApplication> instance,
            std::optional<Error> error) {
  try {
    completion(std::move(instance), std::move(error));
  } catch (...) {  // NOLINT(bugprone-empty-catch): nobody on this thread could handle it
  }
}

void reap(pid_t pid) {
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
}

// launchNow spawns and reports; runs on the launch thread.
void launchNow(const std::filesystem::path& application, const std::vector<std::string>& args,
               const LaunchCompletion& completion) {
  const auto executable = bundleExecutable(application);
  if (!executable) {
    report(completion, std::nullopt, errnoError(ENOENT, application.native()));
    return;
  }
  std::error_code resolveError;
  const auto realExecutable = std::filesystem::canonical(*executable, resolveError);
  pid_t pid = 0;
  const int result = SpawnSettings().spawn(pid, executable->native(), args);
  if (result != 0) {
    report(completion, std::nullopt, errnoError(result, executable->native()));
    return;
  }
  RunningApplication instance{pid, std::nullopt};
  if (!resolveError) instance.bundleURL = mainBundleOfExecutable(realExecutable);
  report(completion, instance, std::nullopt);
  reap(pid);
}

}  // namespace

std::optional<std::filesystem::path> bundleExecutable(const std::filesystem::path& application) {
  const auto bundle = Bundle::open(application);
  if (!bundle) return std::nullopt;
  if (auto named = bundle->executablePath()) return named;
  auto base = application;
  if (!base.has_filename()) base = base.parent_path();  // "X.app/" names the bundle X.app
  return application / "Contents" / "MacOS" / base.stem();
}

void launchApplication(const std::filesystem::path& application,
                       const OpenConfiguration& configuration, LaunchCompletion completion) {
  std::thread([application, args = configuration.arguments, completion = std::move(completion)] {
    launchNow(application, args, completion);
  }).detach();
}

}  // namespace platform
