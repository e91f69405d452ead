#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

#include "platform/uuid.h"

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

  // Creation hashes the executable, stats it, prepares the root, takes the provider lock and
  // writes the first heartbeat; throws (and holds nothing) on failure.
  FinderProviderLifetime(std::filesystem::path root, std::filesystem::path executable,
                         std::string payloadVersion = "unknown");
  FinderProviderLifetime(const FinderProviderLifetime&) = delete;
  FinderProviderLifetime& operator=(const FinderProviderLifetime&) = delete;
  ~FinderProviderLifetime();  // unlock and close; nothing deleted

  // heartbeat rewrites "provider-state.json" (atomic, without durability flushes); throws the
  // encoding or writing error.
  void heartbeat();
  // shouldRetire: the executable was replaced, changed or removed, or a retirement request names
  // this instance. Never throws.
  bool shouldRetire() const;

  // retireIdle asks the provider serving `root` to retire and waits up to 3 s for it to go.
  static void retireIdle(const std::filesystem::path& root);

  const std::filesystem::path& root() const noexcept { return root_; }
  const std::filesystem::path& executable() const noexcept { return executable_; }
  const platform::Uuid& instance() const noexcept { return instance_; }
  const std::string& executableHash() const noexcept { return executableHash_; }
  const std::string& payloadVersion() const noexcept { return payloadVersion_; }

 private:
  std::filesystem::path root_;
  std::filesystem::path executable_;
  platform::Uuid instance_;
  std::string executableHash_;
  std::string payloadVersion_;
  int fd_ = -1;  // descriptor of the open "provider.lock", -1 when none
  std::uint64_t device_ = 0;
  std::uint64_t inode_ = 0;
};
