// Desktop notifications for the Services client: the notification server first, then the
// dialog tools a GNOME or KDE desktop ships, so a menu entry never fails silently.
#include "platform/client/notification.h"

#include <systemd/sd-bus.h>

#include <cstdint>

#include "platform/core/run_tool.h"

namespace platform {
namespace {

constexpr std::uint64_t kNotifyTimeoutUsec = 3'000'000;
constexpr const char* kDialogSeconds = "10";

bool notifyThroughServer(const std::string& summary, const std::string& body, bool failure) {
  sd_bus* bus = nullptr;
  if (sd_bus_open_user(&bus) < 0) return false;
  sd_bus_set_method_call_timeout(bus, kNotifyTimeoutUsec);
  sd_bus_error error{};  // SD_BUS_ERROR_NULL without its C99 compound literal
  sd_bus_message* reply = nullptr;
  const char* icon = failure ? "dialog-error" : "audio-x-generic";
  const int result = sd_bus_call_method(
      bus, "org.freedesktop.Notifications", "/org/freedesktop/Notifications",
      "org.freedesktop.Notifications", "Notify", &error, &reply, "susssasa{sv}i", "Tonebrook",
      std::uint32_t{0}, icon, summary.c_str(), body.c_str(), 0, 0, std::int32_t{-1});
  sd_bus_message_unref(reply);
  sd_bus_error_free(&error);
  sd_bus_flush_close_unref(bus);
  return result >= 0;
}

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

NotificationChannel showNotification(const std::string& summary, const std::string& body,
                                     bool failure) {
  if (notifyThroughServer(summary, body, failure)) return NotificationChannel::notificationServer;
  if (notifyThroughZenity(summary, body, failure)) return NotificationChannel::zenity;
  if (notifyThroughKdialog(summary, body)) return NotificationChannel::kdialog;
  return NotificationChannel::none;
}

}  // namespace platform
