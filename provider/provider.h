#pragma once

#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "lifetime/finder_provider_lifetime.h"
#include "platform/desktop/desktop.h"

inline constexpr std::string_view kFinishingUpdateSentence =
    "The conversion add-on is finishing an update. Retry in a moment.";
inline constexpr platform::Seconds kRetirementInterval{0.2};
// A hidden temporary file of the provider's older than this was left by a killed writer.
inline constexpr std::chrono::seconds kStaleTemporaryAge{60};

// Provider is the object the Services machinery calls. It owns the process's lifetime (provider
// lock and heartbeat) and a retirement timer, and runs one conversion delivery per `convert`
// under the lifecycle lock of its state root. One per process; used on the main thread, except
// that a host launch's completion handler clears `launchInFlight` from a platform thread.
class Provider final : public platform::ServicesProvider,
                       public std::enable_shared_from_this<Provider> {
 public:
  // create takes the provider lock and writes the first heartbeat through the lifetime, then
  // starts the 0.2 s retirement timer. Throws the lifetime's error unchanged; then nothing of the
  // provider remains and no timer runs. `desktop` must outlive the provider. Once it holds the
  // lock it removes the hidden temporary files of its own records and requests older than
  // kStaleTemporaryAge (a killed writer's). A provider whose process does not run the file now
  // at its program path (replaced while it started) ends when idle (endWhenIdle) from the start.
  static std::shared_ptr<Provider> create(platform::Desktop& desktop, std::filesystem::path root,
                                          bool verification);

  Provider(const Provider&) = delete;
  Provider& operator=(const Provider&) = delete;
  virtual ~Provider();  // stops the retirement timer, then releases the lifetime

  // convert runs one delivery, or refuses while one runs or while the process must retire.
  // Success leaves `error` untouched; a failure stores its description there (and, in a
  // verification run, in "provider-error.json" of the state root). Never throws.
  void convert(platform::Pasteboard& pasteboard, const std::optional<std::string>& userData,
               std::optional<std::string>& error) override;

  // endWhenIdle: from now on the provider refuses work like a retiring one and ends at the
  // first tick on which no delivery and no launch is outstanding (its bus went away).
  void endWhenIdle() noexcept { ending_ = true; }
  // onRetire: what ending does instead of terminating the application (packaged verification
  // must not end with the status of success).
  void onRetire(std::function<void()> action) { retire_ = std::move(action); }
  // logFailures: whether a failed call leaves a log line (on by default). Packaged verification
  // turns it off: its caller gets the sentence on standard error, which must hold nothing else,
  // and that is where the log goes when there is no journal.
  void logFailures(bool enabled) noexcept { logFailures_ = enabled; }

  const std::filesystem::path& root() const noexcept { return root_; }
  bool verification() const noexcept { return verification_; }
  const FinderProviderLifetime& lifetime() const noexcept { return lifetime_; }
  bool busy() const noexcept { return busy_; }
  bool launchInFlight() const noexcept { return launchInFlight_.load(); }

 private:
  struct Creation;  // what creation works out before the lifetime exists
  Provider(platform::Desktop& desktop, const Creation& creation);

  void startRetirementTimer();
  void tick();
  void refuseUnlessIdle() const;
  void deliver(platform::Pasteboard& pasteboard, const std::string& userData,
               std::optional<platform::Uuid>& requestID);
  void report(const std::string& description, const std::optional<platform::Uuid>& requestID,
              std::optional<std::string>& error) const;

  platform::Desktop& desktop_;
  std::filesystem::path root_;
  bool verification_;
  std::atomic<bool> launchInFlight_{false};
  bool busy_ = false;
  bool ending_ = false;
  bool logFailures_ = true;
  std::function<void()> retire_;
  FinderProviderLifetime lifetime_;
  std::shared_ptr<platform::Timer> retirement_;
};
