#pragma once

#include <chrono>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace platform {

// StreamTarget is where one standard stream of a child goes.
struct StreamTarget {
  enum class Kind {
    nullDevice,    // /dev/null
    file,          // `file`: read for standard input; for output created or truncated, mode 0600
    sameAsOutput,  // a copy of the child's standard output (standard error only)
    descriptor,    // a copy of `descriptor`, open in this process until spawn returns
    inherited,     // this process's own stream of the same number
  };
  Kind kind = Kind::nullDevice;
  std::filesystem::path file;
  int descriptor = -1;

  static StreamTarget nullDevice() { return {}; }
  static StreamTarget toFile(std::filesystem::path path) { return {Kind::file, std::move(path)}; }
  static StreamTarget sameAsOutput() { return {Kind::sameAsOutput, {}}; }
  static StreamTarget toDescriptor(int fd) { return {Kind::descriptor, {}, fd}; }
  static StreamTarget inheritedStream() { return {Kind::inherited, {}}; }
};

// SpawnOptions says how ChildProcess::spawn starts a program. Whatever they say, the child
// starts with an empty signal mask and every signal at its default action, so that what this
// process blocks or ignores never reaches it.
struct SpawnOptions {
  std::vector<std::string> arguments;  // the program first, then its arguments
  bool searchPath = false;             // a program name without "/" is looked up on PATH
  // The child's environment: this process's, with `environment` set on top and `unset` removed.
  std::map<std::string, std::string> environment;
  std::vector<std::string> unset;
  // The child's working directory (empty: this process's). Relative stream files are opened
  // from this process's working directory, before the change.
  std::filesystem::path workingDirectory;
  StreamTarget input;
  StreamTarget output;
  StreamTarget errors;
  // passed: descriptors of this process that the child gets under the given numbers (3 and up),
  // child number -> descriptor here. The caller keeps them open until spawn returns.
  std::map<int, int> passed;
  bool newSession = false;  // the child leads a session (and process group) of its own
  // endsWithThisProcess: the child gets SIGKILL when the thread that spawned it ends, the whole
  // process included, however it ends (SIGKILL too). The parent-death signal is set by
  // util-linux's setpriv, which then executes the program in the same process; a program that
  // that is missing or not executable is still reported by spawn (one that the system cannot
  // execute for another reason ends with status 127 instead).
  bool endsWithThisProcess = false;
  // Every descriptor from 3 up that is not passed is closed in the child, also those opened
  // without close-on-exec. Only a test that must see what a child would inherit turns it off.
  bool closeInheritedDescriptors = true;
};

// ChildProcess owns one started program until it has been reaped. A child still running when
// its owner goes is killed (SIGKILL) and reaped, so that none is left behind, not even as a
// zombie. A default-constructed or moved-from ChildProcess owns no process.
class ChildProcess {
 public:
  // spawn starts the program; throws errnoError(code, arguments[0]) when it cannot be started
  // or executed (EINVAL for options that make no sense).
  static ChildProcess spawn(const SpawnOptions& options);

  ChildProcess() = default;
  ChildProcess(ChildProcess&& other) noexcept;
  ChildProcess& operator=(ChildProcess&& other) noexcept;
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;
  ~ChildProcess();

  // pid: the process id, also after reaping; -1 when none is owned.
  int pid() const noexcept { return pid_; }
  // exitStatus, once reaped: the exit code (0-255), or 128 + the signal that ended it.
  std::optional<int> exitStatus() const noexcept { return status_; }

  // waitFor reaps the child if it ends within `timeout`: its exitStatus, nullopt when it is
  // still running. wait blocks until it ends. Both throw errnoError when the child cannot be
  // waited for (none owned, or reaped by somebody else); it is no longer owned then.
  std::optional<int> waitFor(std::chrono::duration<double> timeout);
  int wait();

  // kill sends SIGKILL, sendSignal any signal; both do nothing once the child was reaped. The
  // status is collected by the next wait.
  void kill();
  void sendSignal(int signal);

 private:
  explicit ChildProcess(int pid) noexcept : pid_(pid) {}
  // reap waits for the child with `options` for waitpid; true once it has been reaped.
  bool reap(int options);
  void killAndReap() noexcept;

  int pid_ = -1;
  std::optional<int> status_;
};

// startDetached starts the program of `options` so that it outlives this process and is never
// its child: util-linux's setsid forks it into a session of its own and exits at once, which
// this call waits for; the system reaps the program when it ends, so no zombie is left and
// nothing here owns it. `newSession` and `endsWithThisProcess` do not apply. Throws
// errnoError(code, arguments[0]) when the program is missing or not executable, and an error of
// kLaunchDomain when setsid fails; a program that the system cannot execute for another reason
// is not reported.
void startDetached(const SpawnOptions& options);

// replaceProcess executes arguments[0] (a path; PATH is not searched) in place of this program,
// with `arguments` as its argument list: the process keeps its id, environment, working
// directory and standard streams, and /proc/PID/exe names the new program from then on. Returns
// only by throwing: errnoError(code, arguments[0]) when the program cannot be executed (EINVAL
// for no program), and this program runs on unchanged.
[[noreturn]] void replaceProcess(const std::vector<std::string>& arguments);

}  // namespace platform
