#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/core/bookmarks.h"
#include "platform/core/error.h"
#include "platform/core/log.h"
#include "platform/core/url.h"
#include "platform/desktop/bundle.h"
#include "platform/desktop/pasteboard.h"

namespace platform {

// Seconds as the desktop counts them for timers and run-loop dates (monotonic).
using Seconds = std::chrono::duration<double>;
using MonotonicTime = std::chrono::time_point<std::chrono::steady_clock, Seconds>;

// Timer is a repeating timer on the main run loop; invalidate stops it for good.
class Timer {
 public:
  virtual ~Timer() = default;
  virtual void invalidate() = 0;
};

// EntryWatch is a watch from Desktop::watchForEntries; the watch ends when it is destroyed,
// which must happen before the desktop goes.
class EntryWatch {
 public:
  virtual ~EntryWatch() = default;
};

// ServicesProvider is what the Services machinery calls: a pasteboard, the user data of the
// chosen item (absent becomes "" at the provider) and an error slot for one sentence.
class ServicesProvider {
 public:
  virtual void convert(Pasteboard& pasteboard, const std::optional<std::string>& userData,
                       std::optional<std::string>& error) = 0;

 protected:
  ~ServicesProvider() = default;
};

struct RunningApplication {
  int pid = 0;
  std::optional<std::filesystem::path> bundleURL;
};

struct OpenConfiguration {
  bool activates = false;
  bool createsNewApplicationInstance = true;
  std::vector<std::string> arguments;
  bool operator==(const OpenConfiguration&) const = default;
};

// LaunchCompletion is called exactly once per openApplication, later, on a thread of the
// platform's choosing: with the launched instance, or with an error.
using LaunchCompletion =
    std::function<void(std::optional<RunningApplication> instance, std::optional<Error> error)>;

// Desktop is what a desktop does differently from one platform to the next, as the provider and
// the entry use it: the application, the run loop and timers, bundles and the main bundle's
// Info, pasteboards, bookmarks and security-scoped access, running applications, launching, the
// process arguments, the log and the Services registration. Plain file operations are not here:
// they are the same POSIX calls everywhere (platform/core/file_operations.h). makeDesktop() gives
// the backend the build chose; tests use a double with a virtual clock and scripted applications.
//
// Threads: everything is called on the main thread, except
//   - post(), which may be called from any thread (that is how other threads reach the loop);
//   - log(), which may be called from any thread;
//   - the completion of openApplication, which the desktop calls on a thread of its choosing:
//     it may use post() and the plain file operations (it moves a request file), nothing else
//     of the desktop.
class Desktop {
 public:
  virtual ~Desktop() = default;

  // Application.
  virtual void setAccessoryActivationPolicy() = 0;
  // terminate ends the process with status 0 (the test double records the request instead).
  virtual void terminate() = 0;
  // run serves timers, posted work and Services calls until the process ends.
  virtual void run() = 0;

  // Run loop and timers.
  virtual MonotonicTime now() const = 0;
  // runUntil serves timers and other sources until `date`, then returns; may nest.
  virtual void runUntil(MonotonicTime date) = 0;
  // scheduleRepeatingTimer: the block runs every `interval` on the main run loop, first one
  // interval from now, also during runUntil.
  virtual std::shared_ptr<Timer> scheduleRepeatingTimer(Seconds interval,
                                                        std::function<void()> block) = 0;
  // post hands work to the main run loop from any thread and wakes it.
  virtual void post(std::function<void()> work) = 0;
  // watchForEntries: while the watch lives, runUntil also returns before its date soon after an
  // entry is created in or renamed into `directory` (by any process). nullptr when this desktop
  // cannot watch it (no such directory, kernel limits reached, the test double's virtual clock):
  // runUntil then keeps to its date, so callers look for the entry themselves either way.
  virtual std::unique_ptr<EntryWatch> watchForEntries(const std::filesystem::path& directory) {
    (void)directory;
    return nullptr;
  }

  // Bundles.
  virtual std::optional<Bundle> openBundle(const std::filesystem::path& directory) = 0;
  // mainBundleURL: the bundle of the running executable. Throws a platform error when the
  // running executable cannot be known: no guess (the working directory) stands in for it.
  virtual std::filesystem::path mainBundleURL() = 0;
  // mainBundleInfoString: the main bundle's Info value under `key` when it is a string.
  virtual std::optional<std::string> mainBundleInfoString(const std::string& key) = 0;

  // Pasteboards: named; the same name gives the same pasteboard (in-process on Linux).
  virtual Pasteboard& pasteboard(const std::string& name) = 0;

  // Security-scoped access and bookmarks.
  virtual bool startAccessingSecurityScopedResource(const Url& location) = 0;
  virtual void stopAccessingSecurityScopedResource(const Url& location) = 0;
  // bookmarks makes bookmark data and resolves it; data is resolved by the desktop that made it.
  virtual const Bookmarks& bookmarks() = 0;

  // Applications.
  virtual std::vector<RunningApplication> runningApplications(
      const std::string& bundleIdentifier) = 0;
  // openApplication returns at once; `completion` is called once, later, on another thread.
  virtual void openApplication(const std::filesystem::path& application,
                               const OpenConfiguration& configuration,
                               LaunchCompletion completion) = 0;

  // The process arguments, program path first.
  virtual std::vector<std::string> arguments() = 0;
  // runsExecutable: this process runs the very file now at `executable` (that file, not an
  // equal copy). False when the file there was replaced after this process was started from
  // it, as a package swapped into place while the process was starting does. True when the
  // running file cannot be known: nothing says it was replaced, and the checks that need it
  // fail with their own reason.
  virtual bool runsExecutable(const std::filesystem::path& executable) = 0;

  // log is the process's log (on Linux the user's journal); callable from any thread.
  virtual Log& log() = 0;

  // Services: setServicesProvider registers under every NSPortName of the main bundle;
  // registerServicesProvider also under `portName`. Failures (no bus, name taken) are silent,
  // save one: when the bus started this process (bus activation) and it cannot serve what the bus
  // waits for (no port name, a name not taken, no connection), setServicesProvider returns why,
  // one sentence for the log; the bus then holds its caller until this process ends.
  virtual std::optional<std::string> setServicesProvider(ServicesProvider& provider) = 0;
  virtual void registerServicesProvider(ServicesProvider& provider,
                                        const std::string& portName) = 0;
  // setServicesConnectionLostHandler: `handler` runs on the main thread when the Services
  // connection, once made, is lost (the session bus went away). Never when none was made.
  virtual void setServicesConnectionLostHandler(std::function<void()> handler) = 0;
};

// makeDesktop: the real desktop of this process, from the backend the build links (on Linux
// platform/linux, library platform_linux); `argv` holds `argc` arguments, program path first.
std::unique_ptr<Desktop> makeDesktop(int argc, char** argv);

}  // namespace platform
