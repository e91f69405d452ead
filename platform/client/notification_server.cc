// The notification server's side of showNotification: one Notify call over sd-bus and, when the
// notification offers "Show in Files", the wait for the user's answer on the same connection.
#include "platform/client/notification_server.h"

#include <systemd/sd-bus.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string_view>
#include <vector>

#include "platform/client/bus_handles.h"
#include "platform/core/services_names.h"
#include "platform/core/unicode.h"

namespace platform {
namespace {

constexpr const char* kApplicationName = "Tonebrook";
// A running server answers at once; one that the bus must start gets a few seconds.
constexpr std::uint64_t kNotifyTimeoutUsec = 3'000'000;
// A file manager the bus starts for ShowItems may take longer to come up.
constexpr std::uint64_t kShowItemsTimeoutUsec = 25'000'000;

using bus::BusPtr;
using bus::ErrorSlot;
using bus::MessagePtr;
using bus::SlotPtr;

BusPtr connect(const char* address) {
  sd_bus* raw = nullptr;
  if (sd_bus_new(&raw) < 0) return nullptr;
  BusPtr bus(raw);
  if (sd_bus_set_address(raw, address) < 0 || sd_bus_set_bus_client(raw, 1) < 0 ||
      sd_bus_start(raw) < 0) {
    return nullptr;
  }
  return bus;
}

// openSessionBus: the bus that started this process, or the one that started the process it
// descends from (the host inherits the provider's environment), when that is a session bus;
// else the user's session bus.
BusPtr openSessionBus() {
  const char* type = std::getenv("DBUS_STARTER_BUS_TYPE");    // NOLINT(concurrency-mt-unsafe)
  const char* starter = std::getenv("DBUS_STARTER_ADDRESS");  // NOLINT(concurrency-mt-unsafe)
  if (type != nullptr && starter != nullptr && std::string_view(type) == "session") {
    if (BusPtr bus = connect(starter)) return bus;
  }
  sd_bus* raw = nullptr;
  if (sd_bus_open_user(&raw) < 0) return nullptr;
  return BusPtr(raw);
}

// capabilities: what the server says it can do; nullopt when no server answers.
std::optional<std::vector<std::string>> capabilities(sd_bus* bus) {
  ErrorSlot error;
  sd_bus_message* raw = nullptr;
  if (sd_bus_call_method(bus, kNotificationsName, kNotificationsPath, kNotificationsName,
                         "GetCapabilities", &error.value, &raw, "") < 0) {
    return std::nullopt;
  }
  MessagePtr reply(raw);
  char** list = nullptr;
  if (sd_bus_message_read_strv(reply.get(), &list) < 0) return std::nullopt;
  std::vector<std::string> names;
  for (char** name = list; name != nullptr && *name != nullptr; ++name) {
    names.emplace_back(*name);
    std::free(*name);  // sd-bus allocates the list with malloc
  }
  std::free(list);
  return names;
}

bool has(const std::vector<std::string>& names, std::string_view name) {
  return std::find(names.begin(), names.end(), name) != names.end();
}

int appendHints(sd_bus_message* m, bool failure) {
  const std::uint8_t urgency = failure ? kCriticalUrgency : kNormalUrgency;
  return sd_bus_message_append(m, "a{sv}", 2, "urgency", "y", urgency, "desktop-entry", "s",
                               kDesktopEntryName);
}

int appendActions(sd_bus_message* m, bool offer) {
  if (!offer) return sd_bus_message_append(m, "as", 0);
  return sd_bus_message_append(m, "as", 2, kShowInFilesAction, kShowInFilesLabel);
}

// Answer is what the server told about our notification while we listened.
struct Answer {
  std::uint32_t id = 0;
  std::string server;  // the unique name that answered Notify
  bool invoked = false;
  bool closed = false;
  std::string activationToken;
};

int onServerSignal(sd_bus_message* m, void* userdata, sd_bus_error* /*error*/) {
  Answer& answer = *static_cast<Answer*>(userdata);
  const char* sender = sd_bus_message_get_sender(m);
  std::uint32_t id = 0;
  if (sender == nullptr || answer.server != sender || sd_bus_message_read(m, "u", &id) < 0 ||
      id != answer.id) {
    return 0;
  }
  const char* name = sd_bus_message_get_member(m);
  const std::string_view member = name != nullptr ? name : "";
  const char* text = nullptr;
  if (member == "ActionInvoked" && sd_bus_message_read(m, "s", &text) >= 0 && text != nullptr) {
    answer.invoked = std::string_view(text) == kShowInFilesAction;
  } else if (member == "ActivationToken" && sd_bus_message_read(m, "s", &text) >= 0 &&
             text != nullptr) {
    answer.activationToken = text;
  } else if (member == "NotificationClosed") {
    answer.closed = true;
  }
  return 0;
}

// send: the Notify call; false when the server refused it.
bool send(sd_bus* bus, const DesktopNotification& notification, bool markup, bool offerAction,
          Answer& answer) {
  sd_bus_message* raw = nullptr;
  if (sd_bus_message_new_method_call(bus, &raw, kNotificationsName, kNotificationsPath,
                                     kNotificationsName, "Notify") < 0) {
    return false;
  }
  MessagePtr call(raw);
  const std::string body = validUtf8(notification.body);
  const char* icon = notification.failure ? kFailureIcon : kSuccessIcon;
  if (sd_bus_message_append(call.get(), "susss", kApplicationName, std::uint32_t{0}, icon,
                            validUtf8(notification.summary).c_str(),
                            (markup ? escapeMarkup(body) : body).c_str()) < 0 ||
      appendActions(call.get(), offerAction) < 0 ||
      appendHints(call.get(), notification.failure) < 0 ||
      sd_bus_message_append(call.get(), "i", std::int32_t{-1}) < 0) {
    return false;
  }
  ErrorSlot error;
  raw = nullptr;
  if (sd_bus_call(bus, call.get(), kNotifyTimeoutUsec, &error.value, &raw) < 0) return false;
  MessagePtr reply(raw);
  const char* sender = sd_bus_message_get_sender(reply.get());
  answer.server = sender != nullptr ? sender : "";
  return sd_bus_message_read(reply.get(), "u", &answer.id) >= 0;
}

// awaitUser serves the bus until the user answers, the notification closes, the bus goes or
// `wait` has passed.
void awaitUser(sd_bus* bus, const Answer& answer, std::chrono::seconds wait) {
  using Clock = std::chrono::steady_clock;
  const Clock::time_point deadline = Clock::now() + wait;
  while (!answer.invoked && !answer.closed) {
    const int processed = sd_bus_process(bus, nullptr);
    if (processed < 0) return;  // the connection is gone
    if (processed > 0) continue;
    const Clock::time_point now = Clock::now();
    if (now >= deadline) return;
    const auto left = std::chrono::duration_cast<std::chrono::microseconds>(deadline - now);
    if (sd_bus_wait(bus, static_cast<std::uint64_t>(left.count())) < 0) return;
  }
}

// showItems asks the file manager to show `items`; what went wrong, empty when nothing did.
std::string showItems(sd_bus* bus, const std::vector<Url>& items, const std::string& token) {
  sd_bus_message* raw = nullptr;
  if (sd_bus_message_new_method_call(bus, &raw, kFileManagerName, kFileManagerPath,
                                     kFileManagerName, "ShowItems") < 0) {
    return "the file manager could not be asked to show the files";
  }
  MessagePtr call(raw);
  std::vector<const char*> uris;
  uris.reserve(items.size() + 1);
  for (const Url& item : items) uris.push_back(item.text().c_str());
  uris.push_back(nullptr);
  // NOLINTNEXTLINE(cppcoreguidelines-pro-type-const-cast): sd-bus takes a char** list
  if (sd_bus_message_append_strv(call.get(), const_cast<char**>(uris.data())) < 0 ||
      sd_bus_message_append(call.get(), "s", token.c_str()) < 0) {
    return "the file manager could not be asked to show the files";
  }
  ErrorSlot error;
  raw = nullptr;
  const int result = sd_bus_call(bus, call.get(), kShowItemsTimeoutUsec, &error.value, &raw);
  sd_bus_message_unref(raw);
  if (result < 0) return "the file manager did not show the files: " + error.text(result);
  return {};
}

}  // namespace

std::string escapeMarkup(const std::string& text) {
  std::string escaped;
  escaped.reserve(text.size());
  for (const char c : text) {
    if (c == '&') {
      escaped += "&amp;";
    } else if (c == '<') {
      escaped += "&lt;";
    } else if (c == '>') {
      escaped += "&gt;";
    } else {
      escaped += c;
    }
  }
  return escaped;
}

std::optional<std::string> notifyThroughServer(const DesktopNotification& notification,
                                               std::chrono::seconds actionWait) {
  try {
    BusPtr bus = openSessionBus();
    if (!bus) return std::nullopt;
    sd_bus_set_method_call_timeout(bus.get(), kNotifyTimeoutUsec);
    const std::optional<std::vector<std::string>> offers = capabilities(bus.get());
    if (!offers) return std::nullopt;
    const bool offerAction =
        !notification.items.empty() && actionWait.count() > 0 && has(*offers, "actions");
    Answer answer;
    SlotPtr match;
    if (offerAction) {
      // Listening before the notification exists, so that no answer can be missed.
      sd_bus_slot* slot = nullptr;
      if (sd_bus_match_signal(bus.get(), &slot, nullptr, kNotificationsPath, kNotificationsName,
                              nullptr, onServerSignal, &answer) < 0) {
        return std::nullopt;
      }
      match.reset(slot);
    }
    if (!send(bus.get(), notification, has(*offers, "body-markup"), offerAction, answer)) {
      return std::nullopt;
    }
    if (!offerAction) return std::string();
    awaitUser(bus.get(), answer, actionWait);
    if (!answer.invoked) return std::string();
    return showItems(bus.get(), notification.items, answer.activationToken);
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

}  // namespace platform
