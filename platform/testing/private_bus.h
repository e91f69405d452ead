#pragma once

#include <filesystem>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "platform/core/spawn.h"
#include "platform/desktop/desktop.h"

struct sd_bus;

namespace platform::testing {

// PrivateBus is a dbus-daemon of a test's own: a session-type bus listening on a socket in
// `directory`, allowing every name to be owned, with bus activation from `serviceDirectory`
// when one is given. Throws Error when the daemon cannot be started; the destructor stops and
// reaps it.
class PrivateBus {
 public:
  explicit PrivateBus(const std::filesystem::path& directory,
                      const std::filesystem::path& serviceDirectory = {});
  ~PrivateBus();
  PrivateBus(const PrivateBus&) = delete;
  PrivateBus& operator=(const PrivateBus&) = delete;

  const std::string& address() const noexcept { return address_; }
  // useAsSessionBus points this process's DBUS_SESSION_BUS_ADDRESS at the bus and removes
  // DBUS_STARTER_ADDRESS, so that desktops created afterwards connect to it.
  void useAsSessionBus() const;

 private:
  void stop();

  ChildProcess daemon_;
  std::string address_;
};

// useSessionBusAddress points this process's DBUS_SESSION_BUS_ADDRESS at `address` and removes
// DBUS_STARTER_ADDRESS. Not thread-safe: call it before starting threads that read the
// environment.
void useSessionBusAddress(const std::string& address);

// A value of the Convert pasteboard dictionary: a list of strings (`as`) or one string (`s`).
using BusPasteboardValue = std::variant<std::vector<std::string>, std::string>;
using BusPasteboard = std::vector<std::pair<std::string, BusPasteboardValue>>;

// BusReply is how a call ended: no error name for a method return.
struct BusReply {
  std::string errorName;
  std::string errorMessage;
  bool ok() const noexcept { return errorName.empty(); }
};

// callConvert calls app.tonebrook.Services.Convert at `destination` on a connection of its own
// and waits up to `timeout` for the answer. Safe to call from any thread.
BusReply callConvert(const std::string& address, const std::string& destination,
                     const BusPasteboard& pasteboard, const std::string& userData,
                     Seconds timeout = Seconds(30));

// BusNameOwner holds a well-known name on a connection of its own until it goes; the name is
// then taken for everybody else. Throws Error when the name cannot be had.
class BusNameOwner {
 public:
  BusNameOwner(const std::string& address, const std::string& name);
  ~BusNameOwner();
  BusNameOwner(const BusNameOwner&) = delete;
  BusNameOwner& operator=(const BusNameOwner&) = delete;

 private:
  sd_bus* bus_ = nullptr;
};

}  // namespace platform::testing
