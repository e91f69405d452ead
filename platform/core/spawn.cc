#include "platform/core/spawn.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <thread>
#include <utility>

#include "platform/core/descriptor.h"
#include "platform/core/error.h"

extern char** environ;  // NOLINT: the process environment, passed on to the child

namespace platform {
namespace {

constexpr int kFirstInherited = 3;

// SpawnRequest owns the posix_spawn attributes, file actions and the copies of passed
// descriptors of one spawn, and the argument and environment arrays they point into.
class SpawnRequest {
 public:
  explicit SpawnRequest(const SpawnOptions& options) : options_(options) {
    ::posix_spawnattr_init(&attributes_);
    ::posix_spawn_file_actions_init(&actions_);
  }
  ~SpawnRequest() {
    ::posix_spawn_file_actions_destroy(&actions_);
    ::posix_spawnattr_destroy(&attributes_);
  }
  SpawnRequest(const SpawnRequest&) = delete;
  SpawnRequest& operator=(const SpawnRequest&) = delete;
  SpawnRequest(SpawnRequest&&) = delete;
  SpawnRequest& operator=(SpawnRequest&&) = delete;

  // prepare fills in attributes and actions; an errno value when the options make no sense.
  int prepare() {
    if (options_.arguments.empty()) return EINVAL;
    if (options_.input.kind == StreamTarget::Kind::sameAsOutput ||
        options_.output.kind == StreamTarget::Kind::sameAsOutput) {
      return EINVAL;
    }
    sigset_t none;
    sigset_t all;
    sigemptyset(&none);
    sigfillset(&all);
    ::posix_spawnattr_setsigmask(&attributes_, &none);
    ::posix_spawnattr_setsigdefault(&attributes_, &all);
    short flags = POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
    if (options_.newSession) flags |= POSIX_SPAWN_SETSID;
    ::posix_spawnattr_setflags(&attributes_, flags);

    int result = addStream(0, options_.input, O_RDONLY);
    if (result == 0) result = addStream(1, options_.output, O_WRONLY | O_CREAT | O_TRUNC);
    if (result == 0) result = addStream(2, options_.errors, O_WRONLY | O_CREAT | O_TRUNC);
    if (result == 0) result = addPassed();
    if (result == 0 && !options_.workingDirectory.empty()) {
      result = ::posix_spawn_file_actions_addchdir_np(&actions_, options_.workingDirectory.c_str());
    }
    return result;
  }

  int spawn(pid_t& pid) {
    std::vector<char*> argv = pointersTo(options_.arguments);
    char** envp = environ;
    std::vector<std::string> environment;
    std::vector<char*> envPointers;
    if (!options_.environment.empty() || !options_.unset.empty()) {
      environment = childEnvironment();
      envPointers = pointersTo(environment);
      envp = envPointers.data();
    }
    const char* program = argv.front();
    return options_.searchPath
               ? ::posix_spawnp(&pid, program, &actions_, &attributes_, argv.data(), envp)
               : ::posix_spawn(&pid, program, &actions_, &attributes_, argv.data(), envp);
  }

 private:
  int addStream(int stream, const StreamTarget& target, int flags) {
    switch (target.kind) {
      case StreamTarget::Kind::nullDevice:
        return ::posix_spawn_file_actions_addopen(&actions_, stream, "/dev/null",
                                                  stream == 0 ? O_RDONLY : O_WRONLY, 0);
      case StreamTarget::Kind::file:
        return ::posix_spawn_file_actions_addopen(&actions_, stream, target.file.c_str(), flags,
                                                  0600);
      case StreamTarget::Kind::sameAsOutput:
        return ::posix_spawn_file_actions_adddup2(&actions_, 1, stream);
      case StreamTarget::Kind::descriptor:
        if (target.descriptor < 0) return EINVAL;
        return ::posix_spawn_file_actions_adddup2(&actions_, target.descriptor, stream);
      case StreamTarget::Kind::inherited:
        return 0;
    }
    return EINVAL;
  }

  // addPassed gives the child its passed descriptors, then closes the rest from 3 up. Each is
  // first copied above every target number here, so that no dup2 in the child overwrites a
  // descriptor another one still has to be copied from.
  int addPassed() {
    int highest = kFirstInherited - 1;
    for (const auto& [number, descriptor] : options_.passed) {
      if (number < kFirstInherited || descriptor < 0) return EINVAL;
      highest = std::max(highest, number);
    }
    for (const auto& [number, descriptor] : options_.passed) {
      Descriptor copy(::fcntl(descriptor, F_DUPFD_CLOEXEC, highest + 1));
      if (!copy.valid()) return errno;
      const int result = ::posix_spawn_file_actions_adddup2(&actions_, copy.get(), number);
      if (result != 0) return result;
      copies_.push_back(std::move(copy));
    }
    if (!options_.closeInheritedDescriptors) return 0;
    for (int number = kFirstInherited; number <= highest; ++number) {
      if (options_.passed.contains(number)) continue;
      // glibc ignores descriptors that are not open.
      const int result = ::posix_spawn_file_actions_addclose(&actions_, number);
      if (result != 0) return result;
    }
    return ::posix_spawn_file_actions_addclosefrom_np(&actions_, highest + 1);
  }

  std::vector<std::string> childEnvironment() const {
    std::map<std::string, std::string> variables;
    for (char** entry = environ; *entry != nullptr; ++entry) {
      const std::string text(*entry);
      const std::size_t equals = text.find('=');
      if (equals != std::string::npos) variables[text.substr(0, equals)] = text.substr(equals + 1);
    }
    for (const auto& [name, value] : options_.environment) variables[name] = value;
    for (const std::string& name : options_.unset) variables.erase(name);
    std::vector<std::string> result;
    result.reserve(variables.size());
    for (const auto& [name, value] : variables) {
      std::string& entry = result.emplace_back(name);
      entry += '=';
      entry += value;
    }
    return result;
  }

  static std::vector<char*> pointersTo(const std::vector<std::string>& texts) {
    std::vector<char*> pointers;
    pointers.reserve(texts.size() + 1);
    // NOLINTNEXTLINE(cppcoreguidelines-pro-type-const-cast): exec's signature
    for (const std::string& text : texts) pointers.push_back(const_cast<char*>(text.c_str()));
    pointers.push_back(nullptr);
    return pointers;
  }

  const SpawnOptions& options_;
  posix_spawnattr_t attributes_{};
  posix_spawn_file_actions_t actions_{};
  std::vector<Descriptor> copies_;
};

// Where util-linux installs setpriv and setsid (an essential package on Debian).
constexpr const char* kSetpriv = "/usr/bin/setpriv";
constexpr const char* kSetsid = "/usr/bin/setsid";

bool isExecutableFile(const std::string& path) {
  struct stat facts {};
  return ::stat(path.c_str(), &facts) == 0 && S_ISREG(facts.st_mode) &&
         ::access(path.c_str(), X_OK) == 0;
}

// resolvedProgram: the program as the child would find it; PATH is the child's (set in the
// options, else this process's). Throws ENOENT or EACCES when there is nothing to execute.
std::string resolvedProgram(const SpawnOptions& options) {
  const std::string& program = options.arguments.front();
  if (!options.searchPath || program.find('/') != std::string::npos) {
    if (!isExecutableFile(program))
      throw errnoError(::access(program.c_str(), F_OK) == 0 ? EACCES : ENOENT, program);
    return program;
  }
  std::string directories = "/usr/local/bin:/usr/bin:/bin";
  if (auto set = options.environment.find("PATH"); set != options.environment.end()) {
    directories = set->second;
  } else if (const char* path = std::getenv("PATH")) {  // NOLINT(concurrency-mt-unsafe)
    directories = path;
  }
  std::size_t start = 0;
  while (start <= directories.size()) {
    std::size_t end = directories.find(':', start);
    if (end == std::string::npos) end = directories.size();
    const std::string directory = end > start ? directories.substr(start, end - start) : ".";
    const std::string candidate = directory + "/" + program;
    if (isExecutableFile(candidate)) return candidate;
    start = end + 1;
  }
  throw errnoError(ENOENT, program);
}

// withParentDeathSignal: the options that start the same program under setpriv, which sets
// the parent-death signal and then executes it.
SpawnOptions withParentDeathSignal(const SpawnOptions& options) {
  SpawnOptions wrapped = options;
  wrapped.endsWithThisProcess = false;
  wrapped.searchPath = false;
  wrapped.arguments = {kSetpriv, "--pdeathsig", "KILL", "--", resolvedProgram(options)};
  wrapped.arguments.insert(wrapped.arguments.end(), options.arguments.begin() + 1,
                           options.arguments.end());
  return wrapped;
}

int statusOf(int waitStatus) {
  if (WIFSIGNALED(waitStatus)) return 128 + WTERMSIG(waitStatus);
  return WEXITSTATUS(waitStatus);
}

std::string describeProcess(int pid) {
  return "process " + std::to_string(pid);
}

}  // namespace

ChildProcess ChildProcess::spawn(const SpawnOptions& options) {
  const std::string program = options.arguments.empty() ? "" : options.arguments.front();
  if (options.endsWithThisProcess && !options.arguments.empty()) {
    return spawn(withParentDeathSignal(options));
  }
  SpawnRequest request(options);
  int result = request.prepare();
  pid_t pid = -1;
  if (result == 0) result = request.spawn(pid);
  if (result != 0) throw errnoError(result, program);
  return ChildProcess(pid);
}

ChildProcess::ChildProcess(ChildProcess&& other) noexcept
    : pid_(std::exchange(other.pid_, -1)), status_(std::exchange(other.status_, std::nullopt)) {}

ChildProcess& ChildProcess::operator=(ChildProcess&& other) noexcept {
  if (this != &other) {
    killAndReap();
    pid_ = std::exchange(other.pid_, -1);
    status_ = std::exchange(other.status_, std::nullopt);
  }
  return *this;
}

ChildProcess::~ChildProcess() {
  killAndReap();
}

void ChildProcess::killAndReap() noexcept {
  if (pid_ < 0 || status_) return;
  ::kill(pid_, SIGKILL);
  try {
    wait();
  } catch (const Error&) {  // NOLINT(bugprone-empty-catch): somebody else reaped it
  }
}

bool ChildProcess::reap(int options) {
  if (pid_ < 0) throw errnoError(ECHILD, describeProcess(pid_));
  if (status_) return true;
  for (;;) {
    int waitStatus = 0;
    const pid_t ended = ::waitpid(pid_, &waitStatus, options);
    if (ended == pid_) {
      status_ = statusOf(waitStatus);
      return true;
    }
    if (ended == 0) return false;
    if (errno == EINTR) continue;
    const int error = errno;
    const std::string process = describeProcess(pid_);
    pid_ = -1;
    throw errnoError(error, process);
  }
}

std::optional<int> ChildProcess::waitFor(std::chrono::duration<double> timeout) {
  using Clock = std::chrono::steady_clock;
  const Clock::time_point deadline =
      Clock::now() + std::chrono::duration_cast<Clock::duration>(timeout);
  // Short pauses at first: most children a caller waits for are about to end.
  Clock::duration pause = std::chrono::milliseconds(1);
  while (!reap(WNOHANG)) {
    const Clock::time_point now = Clock::now();
    if (now >= deadline) return std::nullopt;
    std::this_thread::sleep_for(std::min(pause, deadline - now));
    pause = std::min<Clock::duration>(pause * 2, std::chrono::milliseconds(10));
  }
  return status_;
}

int ChildProcess::wait() {
  reap(0);
  return *status_;
}

void ChildProcess::kill() {
  sendSignal(SIGKILL);
}

void ChildProcess::sendSignal(int signal) {
  if (pid_ > 0 && !status_) ::kill(pid_, signal);
}

void startDetached(const SpawnOptions& options) {
  if (options.arguments.empty()) throw errnoError(EINVAL, "");
  SpawnOptions starter = options;
  starter.newSession = false;
  starter.endsWithThisProcess = false;
  starter.searchPath = false;
  // setsid --fork: the program runs in a grandchild that the system adopts once setsid is gone.
  starter.arguments = {kSetsid, "--fork", "--", resolvedProgram(options)};
  starter.arguments.insert(starter.arguments.end(), options.arguments.begin() + 1,
                           options.arguments.end());
  const int status = ChildProcess::spawn(starter).wait();
  if (status != 0) {
    throw Error(std::string(kLaunchDomain), status,
                options.arguments.front() + ": setsid ended with status " + std::to_string(status));
  }
}

void replaceProcess(const std::vector<std::string>& arguments) {
  if (arguments.empty()) throw errnoError(EINVAL, "");
  std::vector<char*> argv;
  // NOLINTNEXTLINE(cppcoreguidelines-pro-type-const-cast): exec's signature
  for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  ::execv(argv[0], argv.data());
  throw errnoError(errno, arguments[0]);
}

}  // namespace platform
