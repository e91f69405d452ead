#pragma once

#include <deque>
#include <exception>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/desktop/desktop.h"
#include "platform/desktop/posted_work.h"
#include "platform/desktop/timer_schedule.h"
#include "platform/linux/bookmark.h"

namespace platform::testing {

// LaunchOutcome scripts how one openApplication ends: the completion handler comes `after`
// virtual seconds (0: at the next pass of the run loop, never inside openApplication) with the
// launched copy, another copy, an error, or it never comes; or openApplication itself throws.
struct LaunchOutcome {
  enum class Kind { sameCopy, otherCopy, failure, never, throws };

  static LaunchOutcome sameCopy(Seconds after = Seconds(0)) {
    return {Kind::sameCopy, {}, {}, after, nullptr};
  }
  static LaunchOutcome otherCopy(std::filesystem::path bundle, Seconds after = Seconds(0)) {
    return {Kind::otherCopy, std::move(bundle), {}, after, nullptr};
  }
  static LaunchOutcome failure(Error error, Seconds after = Seconds(0)) {
    return {Kind::failure, {}, std::move(error), after, nullptr};
  }
  static LaunchOutcome never() { return {Kind::never, {}, {}, Seconds(0), nullptr}; }
  // throws: openApplication throws `raised` and never calls the handler.
  static LaunchOutcome throws(std::exception_ptr raised) {
    return {Kind::throws, {}, {}, Seconds(0), std::move(raised)};
  }

  Kind kind = Kind::sameCopy;
  std::filesystem::path otherBundle;  // the instance's bundle URL for otherCopy
  std::optional<Error> error;         // the handler's error for failure
  Seconds after{0};
  std::exception_ptr raised;  // what openApplication throws for throws
};

// LaunchRecord is one openApplication call as the double saw it.
struct LaunchRecord {
  std::filesystem::path application;
  OpenConfiguration configuration;
  MonotonicTime at;  // virtual time of the call
  bool operator==(const LaunchRecord&) const = default;
};

// LogEntry is one event a RecordingLog was given.
struct LogEntry {
  LogPriority priority;
  std::string message;
  std::optional<Uuid> request;
  bool operator==(const LogEntry&) const = default;
};

// RecordingLog keeps every event in order; safe on any thread.
class RecordingLog final : public Log {
 public:
  void write(LogPriority priority, std::string_view message,
             const std::optional<Uuid>& request) override;
  std::vector<LogEntry> entries() const;

 private:
  mutable std::mutex mutex_;
  std::vector<LogEntry> entries_;
};

// FakeDesktop is the Desktop double: a virtual clock (runUntil jumps through due timers and
// scripted completions in date order and returns at once; the timers follow the real loop's
// TimerSchedule), scripted running applications and launch outcomes, a log of launches and
// terminate requests, settable arguments and main bundle.
// Bundles and bookmarks are the Linux backend's code on real files; pasteboards are
// in-process as in the real desktop. Completion handlers run on a thread of their own that the
// double joins before going on, so their effects are in place when runUntil continues.
// post() may be called from any thread; everything else from the test's thread.
class FakeDesktop final : public Desktop {
 public:
  static constexpr MonotonicTime kStart{Seconds(1000)};  // now() of a new double

  FakeDesktop();
  ~FakeDesktop() override;

  // Controls.
  void setArguments(std::vector<std::string> arguments) { arguments_ = std::move(arguments); }
  void setMainBundleURL(std::filesystem::path url) { mainBundleURL_ = std::move(url); }
  // setMainBundleInfoString overrides the main bundle's Info value under `key` (nullopt: absent);
  // keys not set are read from the real bundle at mainBundleURL.
  void setMainBundleInfoString(const std::string& key, std::optional<std::string> value);
  void setRunningApplications(const std::string& identifier,
                              std::vector<RunningApplication> applications);
  // scriptLaunch queues the outcome of the next unscripted launch; without a script a launch
  // reaches the same copy at once.
  void scriptLaunch(LaunchOutcome outcome) { scripts_.push_back(std::move(outcome)); }
  // grantSecurityScopedAccess makes start answer true (the real desktop answers false).
  void grantSecurityScopedAccess(bool granted) { accessGranted_ = granted; }
  // setRunLimit bounds run(): it returns when the next event lies further than `limit` ahead.
  void setRunLimit(Seconds limit) { runLimit_ = limit; }
  // setUnserved: what setServicesProvider answers from now on, as in a process the bus started
  // that cannot serve; nullopt (the default) for one started any other way.
  void setUnserved(std::optional<std::string> reason) { unserved_ = std::move(reason); }
  // setRunsExecutable: what runsExecutable answers from now on (true by default: the process
  // runs the program its arguments name).
  void setRunsExecutable(bool runs) { runsExecutable_ = runs; }

  // Records.
  const std::vector<LaunchRecord>& launches() const noexcept { return launches_; }
  int terminateRequests() const noexcept { return terminateRequests_; }
  ServicesProvider* servicesProvider() const noexcept { return servicesProvider_; }
  const std::vector<std::string>& requestedPortNames() const noexcept { return portNames_; }
  // securityScopedLog: "start <url>" and "stop <url>" in call order.
  const std::vector<std::string>& securityScopedLog() const noexcept { return accessLog_; }
  // pendingLaunchCompletions: handlers scripted to come later that have not run yet.
  std::size_t pendingLaunchCompletions() const noexcept { return completions_.size(); }
  // logEntries: what was written to log(), in order.
  std::vector<LogEntry> logEntries() const { return log_.entries(); }

  // Desktop.
  void setAccessoryActivationPolicy() override { ++accessoryRequests_; }
  void terminate() override { ++terminateRequests_; }
  // run jumps through events until terminate is requested or nothing is due within the limit.
  void run() override;
  MonotonicTime now() const override { return now_; }
  void runUntil(MonotonicTime date) override;
  std::shared_ptr<Timer> scheduleRepeatingTimer(Seconds interval,
                                                std::function<void()> block) override;
  void post(std::function<void()> work) override;
  std::optional<Bundle> openBundle(const std::filesystem::path& directory) override;
  std::filesystem::path mainBundleURL() override { return mainBundleURL_; }
  std::optional<std::string> mainBundleInfoString(const std::string& key) override;
  Pasteboard& pasteboard(const std::string& name) override { return pasteboards_[name]; }
  bool startAccessingSecurityScopedResource(const Url& location) override;
  void stopAccessingSecurityScopedResource(const Url& location) override;
  const Bookmarks& bookmarks() override { return bookmarks_; }
  std::vector<RunningApplication> runningApplications(const std::string& identifier) override;
  void openApplication(const std::filesystem::path& application,
                       const OpenConfiguration& configuration,
                       LaunchCompletion completion) override;
  std::vector<std::string> arguments() override { return arguments_; }
  bool runsExecutable(const std::filesystem::path&) override { return runsExecutable_; }
  Log& log() override { return log_; }
  std::optional<std::string> setServicesProvider(ServicesProvider& provider) override;
  void registerServicesProvider(ServicesProvider& provider, const std::string& portName) override;
  void setServicesConnectionLostHandler(std::function<void()> handler) override {
    connectionLost_ = std::move(handler);
  }
  // loseServicesConnection runs the handler as the real desktop does when its bus goes away.
  void loseServicesConnection() {
    if (connectionLost_) connectionLost_();
  }

 private:
  struct ScheduledCompletion {
    MonotonicTime at;
    std::uint64_t order;
    std::function<void()> call;
  };

  std::optional<MonotonicTime> nextEventDate() const;
  void fireNextEvent();

  MonotonicTime now_ = kStart;
  std::uint64_t nextOrder_ = 0;  // numbers timers and completions together: ties go in order
  TimerSchedule timers_{[this] { return now_; }};
  std::vector<ScheduledCompletion> completions_;
  std::vector<LaunchCompletion> neverCalled_;  // kept alive, as a stuck launch would keep them
  PostedWork posted_;

  std::vector<std::string> arguments_;
  bool runsExecutable_ = true;
  std::filesystem::path mainBundleURL_;
  std::map<std::string, std::optional<std::string>> infoOverrides_;
  std::map<std::string, std::vector<RunningApplication>> running_;
  std::deque<LaunchOutcome> scripts_;
  std::vector<LaunchRecord> launches_;
  int nextPid_ = 4000;
  int terminateRequests_ = 0;
  int accessoryRequests_ = 0;
  bool accessGranted_ = false;
  std::vector<std::string> accessLog_;
  Seconds runLimit_{3600};
  ServicesProvider* servicesProvider_ = nullptr;
  std::vector<std::string> portNames_;
  std::optional<std::string> unserved_;
  std::function<void()> connectionLost_;
  std::map<std::string, InProcessPasteboard> pasteboards_;
  FormatOneBookmarks bookmarks_;
  RecordingLog log_;
};

}  // namespace platform::testing
