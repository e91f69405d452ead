#pragma once

#include <chrono>
#include <string>
#include <vector>

#include "platform/core/url.h"

namespace platform {

// DesktopNotification is one notification of a Tonebrook program.
struct DesktopNotification {
  std::string summary;
  std::string body;      // plain text, lines separated by "\n"
  bool failure = false;  // something went wrong: critical urgency and an error icon
  // items: files to offer with the action "Show in Files", which shows them in the file
  // manager; none, no action.
  std::vector<Url> items;
};

// The look of a notification: urgency (the "urgency" hint) and icon.
inline constexpr unsigned char kNormalUrgency = 1;
inline constexpr unsigned char kCriticalUrgency = 2;
inline constexpr const char* kSuccessIcon = "audio-x-generic";
inline constexpr const char* kFailureIcon = "dialog-error";
inline constexpr const char* kShowInFilesAction = "show-in-files";
inline constexpr const char* kShowInFilesLabel = "Show in Files";

// NotificationChannel says how a notification reached the user.
enum class NotificationChannel {
  notificationServer,  // org.freedesktop.Notifications on the session bus
  zenity,
  kdialog,
  none,  // nothing answered: the caller's own report (standard error, log) is all there is
};

// NotificationResult: the channel, and what went wrong after the notification was shown (the
// file manager did not show the items), empty when nothing did.
struct NotificationResult {
  NotificationChannel channel = NotificationChannel::none;
  std::string problem;
};

// showNotification shows `notification` on the desktop: first through the notification server
// of the session bus, else through zenity, else through kdialog (each only when it runs and
// exits with status 0). Never throws.
//
// On the server it is sent as application "Tonebrook" with the hints "urgency" (critical for a
// failure, else normal) and "desktop-entry" (kDesktopEntryName), the icon kFailureIcon or
// kSuccessIcon, the body escaped where the server reads markup, and, when there are items and
// the server offers actions, the action "Show in Files". Then it waits, at most `actionWait`,
// for the user: the action calls org.freedesktop.FileManager1.ShowItems with the items' URLs;
// the notification being closed, or the bus going, ends the wait. Without items it returns at
// once. The session bus is the one that started this process (DBUS_STARTER_ADDRESS, when
// DBUS_STARTER_BUS_TYPE is "session"), else the user's session bus.
NotificationResult showNotification(const DesktopNotification& notification,
                                    std::chrono::seconds actionWait = std::chrono::seconds(0));

}  // namespace platform
