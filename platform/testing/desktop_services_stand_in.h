#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/desktop/desktop.h"

namespace platform::testing {

// ReceivedNotification is one Notify call as the stand-in received it.
struct ReceivedNotification {
  std::uint32_t id = 0;  // the id it answered with
  int senderPid = -1;    // the process that sent it
  std::string appName;
  std::uint32_t replacesId = 0;
  std::string icon;
  std::string summary;
  std::string body;
  std::vector<std::string> actions;         // key, label, key, label...
  std::optional<std::uint8_t> urgency;      // hint "urgency" (a byte)
  std::optional<std::string> desktopEntry;  // hint "desktop-entry" (a string)
  std::int32_t expireTimeout = 0;
};

// ShowItemsCall is one org.freedesktop.FileManager1.ShowItems call.
struct ShowItemsCall {
  std::vector<std::string> uris;
  std::string startupId;
};

// DesktopServicesStandIn stands in for the desktop's notification server and file manager on a
// test's private bus: on a connection and a thread of its own it owns
// org.freedesktop.Notifications (Notify answered with ids 1, 2, 3..., GetCapabilities with
// `capabilities`, GetServerInformation, CloseNotification) and org.freedesktop.FileManager1
// (ShowItems), and records every Notify and ShowItems call. Throws Error when the bus cannot be
// reached or a name cannot be had; the destructor stops the thread and gives the names back.
class DesktopServicesStandIn {
 public:
  // The token sent in ActivationToken before ActionInvoked, as servers of protocol 1.2 do.
  static constexpr const char* kActivationToken = "stand-in-activation-token";

  explicit DesktopServicesStandIn(const std::string& address,
                                  std::vector<std::string> capabilities = {"actions", "body"});
  ~DesktopServicesStandIn();
  DesktopServicesStandIn(const DesktopServicesStandIn&) = delete;
  DesktopServicesStandIn& operator=(const DesktopServicesStandIn&) = delete;

  std::vector<ReceivedNotification> notifications() const;
  std::vector<ShowItemsCall> shownItems() const;
  // waitForNotifications, waitForShownItems: true once at least `count` calls have arrived,
  // false when `timeout` passed first.
  bool waitForNotifications(std::size_t count, Seconds timeout) const;
  bool waitForShownItems(std::size_t count, Seconds timeout) const;

  // invokeAction does what a server does when the user clicks the action `key` of notification
  // `id`: emits ActivationToken (kActivationToken), ActionInvoked, then NotificationClosed with
  // reason 2 (dismissed by the user). dismiss emits that NotificationClosed alone. Both return
  // once the signals are sent.
  void invokeAction(std::uint32_t id, const std::string& key);
  void dismiss(std::uint32_t id);

 private:
  class Server;
  std::unique_ptr<Server> server_;
};

}  // namespace platform::testing
