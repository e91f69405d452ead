// Desktop notifications of the Services client and the host: the notification server first,
// then the dialog tools a GNOME or KDE desktop ships, so an outcome is never left untold.
#include "platform/client/notification.h"

#include <optional>

#include "platform/client/notification_server.h"
#include "platform/core/run_tool.h"
#include "platform/core/unicode.h"

namespace platform {
namespace {

constexpr const char* kDialogSeconds = "10";

bool notifyThroughZenity(const std::string& summary, const std::string& body, bool failure) {
  // Status 5 is zenity's own timeout: the dialog was shown and closed itself.
  return runTool({"zenity", failure ? "--error" : "--info", "--no-markup", "--title", summary,
                  "--text", body, std::string("--timeout=") + kDialogSeconds},
                 {0, 5});
}

bool notifyThroughKdialog(const std::string& summary, const std::string& body) {
  return runTool({"kdialog", "--title", summary, "--passivepopup", body, kDialogSeconds}, {0});
}

}  // namespace

NotificationResult showNotification(const DesktopNotification& notification,
                                    std::chrono::seconds actionWait) {
  if (std::optional<std::string> problem = notifyThroughServer(notification, actionWait)) {
    return {NotificationChannel::notificationServer, *std::move(problem)};
  }
  const std::string summary = validUtf8(notification.summary);
  const std::string body = validUtf8(notification.body);
  if (notifyThroughZenity(summary, body, notification.failure)) {
    return {NotificationChannel::zenity, {}};
  }
  if (notifyThroughKdialog(summary, body)) return {NotificationChannel::kdialog, {}};
  return {};
}

}  // namespace platform
