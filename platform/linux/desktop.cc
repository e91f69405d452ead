#include "platform/desktop/desktop.h"

#include <poll.h>

#include <cstdlib>
#include <map>
#include <system_error>

#include "platform/core/error.h"
#include "platform/core/files.h"
#include "platform/linux/bookmark.h"
#include "platform/linux/directory_events.h"
#include "platform/linux/journal.h"
#include "platform/linux/launch.h"
#include "platform/linux/run_loop.h"
#include "platform/linux/running_applications.h"
#include "platform/linux/services_bus.h"

namespace platform {
namespace {

// LinuxEntryWatch is a directory's inotify descriptor as a source of the run loop: pending
// events end the runUntil that is waiting.
class LinuxEntryWatch final : public EntryWatch, private RunLoopSource {
 public:
  LinuxEntryWatch(RunLoop& loop, DirectoryEvents events) : loop_(loop), events_(std::move(events)) {
    loop_.addSource(*this);
  }
  LinuxEntryWatch(const LinuxEntryWatch&) = delete;
  LinuxEntryWatch& operator=(const LinuxEntryWatch&) = delete;
  ~LinuxEntryWatch() override { loop_.removeSource(*this); }

 private:
  int descriptor() const override { return events_.descriptor(); }
  short events() const override { return POLLIN; }
  std::optional<MonotonicTime> deadline() const override { return std::nullopt; }
  void perform() override {
    if (events_.drain()) loop_.stop();
  }

  RunLoop& loop_;
  DirectoryEvents events_;
};

// LinuxDesktop is the desktop of this process on Linux: one run loop for the main thread, the
// Services machinery on the session bus, bundles, processes and launches through /proc and
// posix_spawn.
class LinuxDesktop final : public Desktop {
 public:
  explicit LinuxDesktop(std::vector<std::string> arguments)
      : arguments_(std::move(arguments)), log_(programName(arguments_)) {}

  // There is no Dock or menu bar to stay out of: every process is an accessory here.
  void setAccessoryActivationPolicy() override {}
  // exit, not _exit: stdio is flushed; locks and the bus connection end with the process.
  // Calls already taken off the bus are answered first: a caller must not be left waiting.
  [[noreturn]] void terminate() override {
    bus_.finish();
    std::exit(0);
  }
  [[noreturn]] void run() override { loop_.runForever(); }

  MonotonicTime now() const override { return RunLoop::now(); }
  void runUntil(MonotonicTime date) override { loop_.runUntil(date); }
  std::shared_ptr<Timer> scheduleRepeatingTimer(Seconds interval,
                                                std::function<void()> block) override {
    return loop_.scheduleRepeatingTimer(interval, std::move(block));
  }
  void post(std::function<void()> work) override { loop_.post(std::move(work)); }
  std::unique_ptr<EntryWatch> watchForEntries(const std::filesystem::path& directory) override {
    std::optional<DirectoryEvents> events = DirectoryEvents::open(directory);
    if (!events) return nullptr;
    return std::make_unique<LinuxEntryWatch>(loop_, *std::move(events));
  }

  std::optional<Bundle> openBundle(const std::filesystem::path& directory) override {
    return Bundle::open(directory);
  }
  std::filesystem::path mainBundleURL() override;
  std::optional<Bundle> openMainBundle();
  std::optional<std::string> mainBundleInfoString(const std::string& key) override {
    auto bundle = openMainBundle();
    return bundle ? bundle->infoString(key) : std::nullopt;
  }

  Pasteboard& pasteboard(const std::string& name) override { return pasteboards_[name]; }

  bool startAccessingSecurityScopedResource(const Url&) override { return false; }
  void stopAccessingSecurityScopedResource(const Url&) override {}
  const Bookmarks& bookmarks() override { return bookmarks_; }

  std::vector<RunningApplication> runningApplications(const std::string& identifier) override {
    return runningApplicationsWithIdentifier(identifier);
  }
  void openApplication(const std::filesystem::path& application,
                       const OpenConfiguration& configuration,
                       LaunchCompletion completion) override {
    launchApplication(application, configuration, std::move(completion));
  }

  std::vector<std::string> arguments() override { return arguments_; }
  // /proc/self/exe leads to the file this process runs, also once it is renamed or removed.
  bool runsExecutable(const std::filesystem::path& executable) override {
    const std::optional<FileIdentity> running = identity("/proc/self/exe");
    return !running || running == identity(executable);
  }
  Log& log() override { return log_; }

  std::optional<std::string> setServicesProvider(ServicesProvider& provider) override {
    auto bundle = openMainBundle();
    return bus_.serve(provider, bundle ? bundle->servicesPortNames() : std::vector<std::string>());
  }
  void registerServicesProvider(ServicesProvider& provider, const std::string& portName) override {
    if (auto reason = bus_.serve(provider, {portName})) {
      log_.write(LogPriority::error, *reason, std::nullopt);
    }
  }
  void setServicesConnectionLostHandler(std::function<void()> handler) override {
    bus_.onConnectionLost(std::move(handler));
  }

 private:
  static std::string programName(const std::vector<std::string>& arguments) {
    if (arguments.empty() || arguments.front().empty()) return "tonebrook";
    return std::filesystem::path(arguments.front()).filename().string();
  }

  std::vector<std::string> arguments_;
  JournalLog log_;
  RunLoop loop_;
  ServicesBus bus_{loop_, log_};  // after loop_: it leaves the loop before the loop goes
  std::map<std::string, InProcessPasteboard> pasteboards_;
  FormatOneBookmarks bookmarks_;
};

std::filesystem::path LinuxDesktop::mainBundleURL() {
  std::error_code error;
  const auto executable = std::filesystem::read_symlink("/proc/self/exe", error);
  if (error) throw errnoError(error.value(), "/proc/self/exe");
  return mainBundleOfExecutable(executable);
}

// openMainBundle: the main bundle, or none when it cannot be known (its Info values and port
// names are then absent, as for a bundle without them).
std::optional<Bundle> LinuxDesktop::openMainBundle() {
  try {
    return Bundle::open(mainBundleURL());
  } catch (const Error&) {
    return std::nullopt;
  }
}

}  // namespace

std::unique_ptr<Desktop> makeDesktop(int argc, char** argv) {
  std::vector<std::string> arguments;
  for (int i = 0; i < argc; ++i) arguments.emplace_back(argv[i]);  // NOLINT: C's argv
  return std::make_unique<LinuxDesktop>(std::move(arguments));
}

}  // namespace platform
