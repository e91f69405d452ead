#pragma once

#include <chrono>
#include <optional>
#include <string>

#include "platform/client/notification.h"

namespace platform {

// notifyThroughServer sends `notification` to org.freedesktop.Notifications and, when it offers
// the action "Show in Files", serves that action for up to `actionWait` (see showNotification).
// nullopt when no notification server took it (no bus, nobody owns the name, the call failed);
// otherwise what went wrong afterwards, empty when nothing did. Never throws.
std::optional<std::string> notifyThroughServer(const DesktopNotification& notification,
                                               std::chrono::seconds actionWait);

// escapeMarkup: `text` with "&", "<" and ">" written as entities, for a server that reads the
// body as markup (capability "body-markup"), so that a file name is shown as it is.
std::string escapeMarkup(const std::string& text);

}  // namespace platform
