#include "platform/testing/fake_desktop.h"

#include <algorithm>
#include <thread>
#include <utility>

namespace platform::testing {

FakeDesktop::FakeDesktop() = default;
FakeDesktop::~FakeDesktop() = default;

void FakeDesktop::run() {
  const MonotonicTime limit = now_ + runLimit_;
  while (terminateRequests_ == 0) {
    while (posted_.runOne()) {
    }
    const auto next = nextEventDate();
    if (!next || *next > limit) return;
    runUntil(*next);
  }
}

void FakeDesktop::runUntil(MonotonicTime date) {
  for (;;) {
    while (posted_.runOne()) {
    }
    const auto next = nextEventDate();
    if (!next || *next > date) break;
    now_ = std::max(now_, *next);
    fireNextEvent();
  }
  now_ = std::max(now_, date);
  while (posted_.runOne()) {
  }
}

std::shared_ptr<Timer> FakeDesktop::scheduleRepeatingTimer(Seconds interval,
                                                           std::function<void()> block) {
  return timers_.add(interval, std::move(block), nextOrder_++);
}

void FakeDesktop::post(std::function<void()> work) {
  posted_.push(std::move(work));
}

std::optional<MonotonicTime> FakeDesktop::nextEventDate() const {
  std::optional<MonotonicTime> next;
  if (auto timer = timers_.next()) next = timer->date;
  for (const auto& completion : completions_) {
    if (!next || completion.at < *next) next = completion.at;
  }
  return next;
}

// fireNextEvent runs the one event due now that was scheduled first: timers and completions
// due at the same date run in the order they were set up.
void FakeDesktop::fireNextEvent() {
  std::optional<TimerSchedule::Due> timer = timers_.next();
  if (timer && timer->date > now_) timer.reset();
  auto completion =
      std::min_element(completions_.begin(), completions_.end(), [](const auto& a, const auto& b) {
        return std::pair(a.at, a.order) < std::pair(b.at, b.order);
      });
  const bool completionDue = completion != completions_.end() && completion->at <= now_;
  if (completionDue && (!timer || std::pair(completion->at, completion->order) <
                                      std::pair(timer->date, timer->order))) {
    auto call = std::move(completion->call);
    completions_.erase(completion);
    std::thread(std::move(call)).join();  // another thread, as the real desktop's handler
  } else if (timer) {
    timers_.fireNext();
  }
}

std::optional<Bundle> FakeDesktop::openBundle(const std::filesystem::path& directory) {
  return Bundle::open(directory);
}

void FakeDesktop::setMainBundleInfoString(const std::string& key,
                                          std::optional<std::string> value) {
  infoOverrides_[key] = std::move(value);
}

std::optional<std::string> FakeDesktop::mainBundleInfoString(const std::string& key) {
  if (auto found = infoOverrides_.find(key); found != infoOverrides_.end()) return found->second;
  auto bundle = Bundle::open(mainBundleURL_);
  return bundle ? bundle->infoString(key) : std::nullopt;
}

bool FakeDesktop::startAccessingSecurityScopedResource(const Url& location) {
  accessLog_.push_back("start " + location.text());
  return accessGranted_;
}

void FakeDesktop::stopAccessingSecurityScopedResource(const Url& location) {
  accessLog_.push_back("stop " + location.text());
}

void FakeDesktop::setRunningApplications(const std::string& identifier,
                                         std::vector<RunningApplication> applications) {
  running_[identifier] = std::move(applications);
}

std::vector<RunningApplication> FakeDesktop::runningApplications(const std::string& identifier) {
  auto found = running_.find(identifier);
  return found != running_.end() ? found->second : std::vector<RunningApplication>();
}

void FakeDesktop::openApplication(const std::filesystem::path& application,
                                  const OpenConfiguration& configuration,
                                  LaunchCompletion completion) {
  launches_.push_back({application, configuration, now_});
  LaunchOutcome outcome;
  if (!scripts_.empty()) {
    outcome = std::move(scripts_.front());
    scripts_.pop_front();
  }
  if (outcome.kind == LaunchOutcome::Kind::throws) std::rethrow_exception(outcome.raised);
  if (outcome.kind == LaunchOutcome::Kind::never) {
    neverCalled_.push_back(std::move(completion));
    return;
  }
  std::function<void()> call;
  if (outcome.kind == LaunchOutcome::Kind::failure) {
    call = [completion, error = *outcome.error] { completion(std::nullopt, error); };
  } else {
    const auto bundle =
        outcome.kind == LaunchOutcome::Kind::sameCopy ? application : outcome.otherBundle;
    call = [completion, instance = RunningApplication{nextPid_++, bundle}] {
      completion(instance, std::nullopt);
    };
  }
  completions_.push_back({now_ + outcome.after, nextOrder_++, std::move(call)});
}

std::optional<std::string> FakeDesktop::setServicesProvider(ServicesProvider& provider) {
  servicesProvider_ = &provider;
  if (auto bundle = Bundle::open(mainBundleURL_)) {
    for (auto& name : bundle->servicesPortNames()) portNames_.push_back(std::move(name));
  }
  return unserved_;
}

void FakeDesktop::registerServicesProvider(ServicesProvider& provider,
                                           const std::string& portName) {
  servicesProvider_ = &provider;
  portNames_.push_back(portName);
}

void RecordingLog::write(LogPriority priority, std::string_view message,
                         const std::optional<Uuid>& request) {
  const std::lock_guard<std::mutex> hold(mutex_);
  entries_.push_back({priority, std::string(message), request});
}

std::vector<LogEntry> RecordingLog::entries() const {
  const std::lock_guard<std::mutex> hold(mutex_);
  return entries_;
}

}  // namespace platform::testing
