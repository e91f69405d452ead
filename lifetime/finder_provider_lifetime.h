#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "exchange/records.h"
#include "platform/core/files.h"
#include "platform/core/uuid.h"

// FinderProviderLifetime keeps one provider per state root: it holds "provider.lock" for its
// whole life, publishes its State in "provider-state.json" (heartbeat) and answers whether the
// provider should retire. Not thread-safe: used on the provider's main thread.
class FinderProviderLifetime {
 public:
  // State is the heartbeat record; `updated` is seconds since 2001-01-01 00:00:00 UTC.
  struct State {
    std::int64_t version = 1;
    platform::Uuid instance;
    std::int32_t pid = 0;
    std::string executableHash;
    std::string payloadVersion;
    double updated = 0;
  };

  static constexpr std::int64_t kStateVersion = 1;
  // A heartbeat record younger than this is fresh (one in the future counts as fresh).
  static constexpr double kFreshnessLimitSeconds = 3.0;
  // How long retireIdle waits for the provider to go, and how often it probes the lock.
  static constexpr std::chrono::milliseconds kRetireWait{3000};
  static constexpr std::chrono::milliseconds kProbeInterval{50};

  static constexpr std::string_view kExecutableUnavailableSentence =
      "The conversion executable is unavailable.";
  static constexpr std::string_view kProviderRunningSentence =
      "Another conversion provider is still running. Retry after it finishes.";
  static constexpr std::string_view kProviderLockUnopenableSentence =
      "The conversion provider lock cannot be opened.";
  static constexpr std::string_view kProviderSilentSentence =
      "The conversion provider is not responding. The existing add-on was preserved.";
  static constexpr std::string_view kProviderStillRetiringSentence =
      "The conversion provider has not finished retiring. Retry; the existing add-on was "
      "preserved.";

  // Creation stats the executable, hashes it, prepares the root, takes the provider lock and
  // writes the first heartbeat; throws (and holds nothing) on failure: executableUnavailable
  // when stat fails, the read error when the executable cannot be read, prepare's error,
  // providerRunning when the lock cannot be opened or is held, the first heartbeat's error.
  FinderProviderLifetime(std::filesystem::path root, std::filesystem::path executable,
                         std::string payloadVersion = "unknown");
  FinderProviderLifetime(const FinderProviderLifetime&) = delete;
  FinderProviderLifetime& operator=(const FinderProviderLifetime&) = delete;
  ~FinderProviderLifetime();  // unlock and close; nothing deleted

  // heartbeat rewrites "provider-state.json" (atomic, without durability flushes); throws the
  // encoding or writing error.
  void heartbeat();
  // shouldRetire: the executable was replaced, changed or removed, or a retirement request names
  // this instance. Evaluated afresh on every call; reads only. Never throws.
  bool shouldRetire() const;
  // executableReplaced: another file, or none, is at the executable's path now (its identity
  // differs from the one taken at creation). The cheap part of shouldRetire, without the
  // digest: an installer replaces the package, and with it every file, so this is what a swap
  // changes. Never throws.
  bool executableReplaced() const;

  // retireIdle asks the provider serving `root` to retire and waits up to 3 s for it to go.
  // Returns when no provider holds the lock (and does not keep it). Throws prepare's error,
  // providerLockUnopenable, the reading errors of "provider-state.json", providerSilent (no
  // request written), the request's writing error, or providerStillRetiring. Blocks the caller.
  static void retireIdle(const std::filesystem::path& root);

  // retirementTarget: the instance that a "provider-retire.json" document names, one JSON string
  // holding a UUID (JSON white space around it allowed); nullopt for any other document. Never
  // throws.
  static std::optional<platform::Uuid> retirementTarget(std::string_view document) noexcept;

  const std::filesystem::path& root() const noexcept { return root_; }
  const std::filesystem::path& executable() const noexcept { return executable_; }
  const platform::Uuid& instance() const noexcept { return instance_; }
  const std::string& executableHash() const noexcept { return executableHash_; }
  const std::string& payloadVersion() const noexcept { return payloadVersion_; }

 private:
  void takeProviderLock();
  bool executableChanged() const;
  bool retirementRequested() const;

  std::filesystem::path root_;
  std::filesystem::path executable_;
  platform::Uuid instance_;
  std::string executableHash_;
  std::string payloadVersion_;
  std::optional<platform::LockFile> lock_;     // the open "provider.lock"; empty when none
  platform::FileIdentity executableIdentity_;  // device and inode at creation
};

namespace FinderConversion {

// The compact JSON form of a State, members in field order, "/" escaped like every record.
// Throws a JSON error when a text is not valid UTF-8.
std::string encode(const FinderProviderLifetime::State& value);
// Reading requires all six members with their JSON kinds (version a 64-bit integer, instance a
// UUID text, pid a 32-bit integer, both texts, updated a number); other members are ignored.
template <>
FinderProviderLifetime::State decode<FinderProviderLifetime::State>(std::string_view document);

}  // namespace FinderConversion
