#pragma once

#include <string>

namespace platform {

// NotificationChannel says how a notification reached the user.
enum class NotificationChannel {
  notificationServer,  // org.freedesktop.Notifications on the session bus
  zenity,
  kdialog,
  none,  // nothing answered: the caller's standard-error text is all the user gets
};

// showNotification shows `summary` and `body` on the desktop: first through the notification
// server of the session bus, else through zenity, else through kdialog (each only when it runs
// and exits with status 0). Never throws; `failure` picks an error look where the tool has one.
NotificationChannel showNotification(const std::string& summary, const std::string& body,
                                     bool failure);

}  // namespace platform
