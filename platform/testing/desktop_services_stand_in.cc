// The desktop's notification server and file manager, as a test sees them: a few sd-bus
// methods that record what they are asked.
#include "platform/testing/desktop_services_stand_in.h"

#include <sys/types.h>
#include <systemd/sd-bus.h>

#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <functional>
#include <future>
#include <mutex>
#include <thread>

#include "platform/core/error.h"
#include "platform/core/services_names.h"

namespace platform::testing {
namespace {

constexpr std::uint32_t kDismissedByUser = 2;
constexpr std::uint64_t kPassUsec = 20'000;

Error busError(int result, const std::string& what) {
  return errnoError(-result, what);
}

// readStrings reads an `as` into a vector.
int readStrings(sd_bus_message* m, std::vector<std::string>& into) {
  char** list = nullptr;
  const int r = sd_bus_message_read_strv(m, &list);
  if (r < 0) return r;
  for (char** text = list; text != nullptr && *text != nullptr; ++text) {
    into.emplace_back(*text);
    std::free(*text);
  }
  std::free(list);
  return r;
}

// readHints reads the a{sv} hints, keeping those a test looks at.
int readHints(sd_bus_message* m, ReceivedNotification& into) {
  int r = sd_bus_message_enter_container(m, 'a', "{sv}");
  while (r >= 0 && (r = sd_bus_message_enter_container(m, 'e', "sv")) > 0) {
    const char* key = nullptr;
    const char* contents = nullptr;
    if ((r = sd_bus_message_read(m, "s", &key)) < 0) return r;
    if ((r = sd_bus_message_peek_type(m, nullptr, &contents)) < 0) return r;
    const std::string name = key;
    const std::string type = contents != nullptr ? contents : "";
    if (name == "urgency" && type == "y") {
      std::uint8_t urgency = 0;
      r = sd_bus_message_read(m, "v", "y", &urgency);
      into.urgency = urgency;
    } else if (name == "desktop-entry" && type == "s") {
      const char* entry = nullptr;
      r = sd_bus_message_read(m, "v", "s", &entry);
      into.desktopEntry = entry;
    } else {
      r = sd_bus_message_skip(m, "v");
    }
    if (r < 0 || (r = sd_bus_message_exit_container(m)) < 0) return r;
  }
  if (r < 0) return r;
  return sd_bus_message_exit_container(m);
}

}  // namespace

// Server owns the connection and the thread that serves it; everything the bus thread touches
// that tests also read is behind `mutex_`.
class DesktopServicesStandIn::Server {
 public:
  Server(const std::string& address, std::vector<std::string> capabilities)
      : capabilities_(std::move(capabilities)) {
    std::promise<void> ready;
    std::future<void> started = ready.get_future();
    thread_ = std::thread([this, address, ready = std::move(ready)]() mutable {
      try {
        connect(address);
      } catch (...) {
        ready.set_exception(std::current_exception());
        return;
      }
      ready.set_value();
      serve();
    });
    try {
      started.get();
    } catch (...) {
      thread_.join();
      throw;
    }
  }

  ~Server() {
    stop_ = true;
    thread_.join();
    sd_bus_flush_close_unref(bus_);
  }
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;

  std::vector<ReceivedNotification> notifications() const {
    const std::lock_guard lock(mutex_);
    return notifications_;
  }
  std::vector<ShowItemsCall> shownItems() const {
    const std::lock_guard lock(mutex_);
    return shownItems_;
  }
  bool waitFor(const std::function<bool()>& condition, Seconds timeout) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, condition);
  }
  std::size_t notificationCount() const { return notifications_.size(); }
  std::size_t shownItemsCount() const { return shownItems_.size(); }

  // onBusThread runs `work` on the bus thread and returns once it has run.
  void onBusThread(std::function<void(sd_bus*)> work) {
    std::packaged_task<void(sd_bus*)> task(std::move(work));
    std::future<void> done = task.get_future();
    {
      const std::lock_guard lock(mutex_);
      pending_.push_back(std::move(task));
    }
    done.get();
  }

 private:
  void connect(const std::string& address) {
    int r = sd_bus_new(&bus_);
    if (r >= 0 && (r = sd_bus_set_address(bus_, address.c_str())) >= 0 &&
        (r = sd_bus_set_bus_client(bus_, 1)) >= 0) {
      r = sd_bus_start(bus_);
    }
    if (r < 0) throw busError(r, address);
    static const sd_bus_vtable kNotifications[] = {
        SD_BUS_VTABLE_START(0),
        SD_BUS_METHOD("Notify", "susssasa{sv}i", "u", onNotify, SD_BUS_VTABLE_UNPRIVILEGED),
        SD_BUS_METHOD("GetCapabilities", "", "as", onCapabilities, SD_BUS_VTABLE_UNPRIVILEGED),
        SD_BUS_METHOD("GetServerInformation", "", "ssss", onServerInformation,
                      SD_BUS_VTABLE_UNPRIVILEGED),
        SD_BUS_METHOD("CloseNotification", "u", "", onClose, SD_BUS_VTABLE_UNPRIVILEGED),
        SD_BUS_SIGNAL("NotificationClosed", "uu", 0),
        SD_BUS_SIGNAL("ActionInvoked", "us", 0),
        SD_BUS_SIGNAL("ActivationToken", "us", 0),
        SD_BUS_VTABLE_END};
    static const sd_bus_vtable kFileManager[] = {
        SD_BUS_VTABLE_START(0),
        SD_BUS_METHOD("ShowItems", "ass", "", onShowItems, SD_BUS_VTABLE_UNPRIVILEGED),
        SD_BUS_VTABLE_END};
    if ((r = sd_bus_add_object_vtable(bus_, nullptr, kNotificationsPath, kNotificationsName,
                                      kNotifications, this)) < 0 ||
        (r = sd_bus_add_object_vtable(bus_, nullptr, kFileManagerPath, kFileManagerName,
                                      kFileManager, this)) < 0) {
      throw busError(r, "vtable");
    }
    for (const char* name : {kNotificationsName, kFileManagerName}) {
      if ((r = sd_bus_request_name(bus_, name, 0)) < 0) throw busError(r, name);
    }
  }

  void serve() {
    while (!stop_) {
      while (sd_bus_process(bus_, nullptr) > 0) {
      }
      runPending();
      sd_bus_wait(bus_, kPassUsec);
    }
    runPending();
  }

  void runPending() {
    std::deque<std::packaged_task<void(sd_bus*)>> tasks;
    {
      const std::lock_guard lock(mutex_);
      tasks.swap(pending_);
    }
    for (auto& task : tasks) task(bus_);
    if (!tasks.empty()) sd_bus_flush(bus_);
  }

  static int onNotify(sd_bus_message* m, void* userdata, sd_bus_error* /*error*/) {
    auto& self = *static_cast<Server*>(userdata);
    ReceivedNotification received;
    const char* app = nullptr;
    const char* icon = nullptr;
    const char* summary = nullptr;
    const char* body = nullptr;
    int r = sd_bus_message_read(m, "susss", &app, &received.replacesId, &icon, &summary, &body);
    if (r < 0 || (r = readStrings(m, received.actions)) < 0 || (r = readHints(m, received)) < 0 ||
        (r = sd_bus_message_read(m, "i", &received.expireTimeout)) < 0) {
      return r;
    }
    received.appName = app;
    received.icon = icon;
    received.summary = summary;
    received.body = body;
    sd_bus_creds* creds = nullptr;
    pid_t pid = -1;
    if (sd_bus_query_sender_creds(m, SD_BUS_CREDS_PID, &creds) >= 0 &&
        sd_bus_creds_get_pid(creds, &pid) >= 0) {
      received.senderPid = pid;
    }
    sd_bus_creds_unref(creds);
    {
      const std::lock_guard lock(self.mutex_);
      received.id = static_cast<std::uint32_t>(self.notifications_.size() + 1);
      self.notifications_.push_back(received);
    }
    self.changed_.notify_all();
    return sd_bus_reply_method_return(m, "u", received.id);
  }

  static int onCapabilities(sd_bus_message* m, void* userdata, sd_bus_error* /*error*/) {
    auto& self = *static_cast<Server*>(userdata);
    sd_bus_message* reply = nullptr;
    int r = sd_bus_message_new_method_return(m, &reply);
    if (r >= 0 && (r = sd_bus_message_open_container(reply, 'a', "s")) >= 0) {
      for (const std::string& capability : self.capabilities_) {
        if ((r = sd_bus_message_append(reply, "s", capability.c_str())) < 0) break;
      }
      if (r >= 0) r = sd_bus_message_close_container(reply);
    }
    if (r >= 0) r = sd_bus_send(nullptr, reply, nullptr);
    sd_bus_message_unref(reply);
    return r;
  }

  static int onServerInformation(sd_bus_message* m, void* /*userdata*/, sd_bus_error* /*error*/) {
    return sd_bus_reply_method_return(m, "ssss", "stand-in", "tonebrook tests", "1", "1.2");
  }

  static int onClose(sd_bus_message* m, void* /*userdata*/, sd_bus_error* /*error*/) {
    return sd_bus_reply_method_return(m, "");
  }

  static int onShowItems(sd_bus_message* m, void* userdata, sd_bus_error* /*error*/) {
    auto& self = *static_cast<Server*>(userdata);
    ShowItemsCall call;
    const char* startupId = nullptr;
    int r = readStrings(m, call.uris);
    if (r < 0 || (r = sd_bus_message_read(m, "s", &startupId)) < 0) return r;
    call.startupId = startupId;
    {
      const std::lock_guard lock(self.mutex_);
      self.shownItems_.push_back(std::move(call));
    }
    self.changed_.notify_all();
    return sd_bus_reply_method_return(m, "");
  }

  sd_bus* bus_ = nullptr;
  std::vector<std::string> capabilities_;
  std::thread thread_;
  std::atomic<bool> stop_{false};
  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  std::vector<ReceivedNotification> notifications_;
  std::vector<ShowItemsCall> shownItems_;
  std::deque<std::packaged_task<void(sd_bus*)>> pending_;
};

DesktopServicesStandIn::DesktopServicesStandIn(const std::string& address,
                                               std::vector<std::string> capabilities)
    : server_(std::make_unique<Server>(address, std::move(capabilities))) {}

DesktopServicesStandIn::~DesktopServicesStandIn() = default;

std::vector<ReceivedNotification> DesktopServicesStandIn::notifications() const {
  return server_->notifications();
}

std::vector<ShowItemsCall> DesktopServicesStandIn::shownItems() const {
  return server_->shownItems();
}

bool DesktopServicesStandIn::waitForNotifications(std::size_t count, Seconds timeout) const {
  return server_->waitFor([&] { return server_->notificationCount() >= count; }, timeout);
}

bool DesktopServicesStandIn::waitForShownItems(std::size_t count, Seconds timeout) const {
  return server_->waitFor([&] { return server_->shownItemsCount() >= count; }, timeout);
}

void DesktopServicesStandIn::invokeAction(std::uint32_t id, const std::string& key) {
  server_->onBusThread([id, key](sd_bus* bus) {
    sd_bus_emit_signal(bus, kNotificationsPath, kNotificationsName, "ActivationToken", "us", id,
                       kActivationToken);
    sd_bus_emit_signal(bus, kNotificationsPath, kNotificationsName, "ActionInvoked", "us", id,
                       key.c_str());
    sd_bus_emit_signal(bus, kNotificationsPath, kNotificationsName, "NotificationClosed", "uu", id,
                       kDismissedByUser);
  });
}

void DesktopServicesStandIn::dismiss(std::uint32_t id) {
  server_->onBusThread([id](sd_bus* bus) {
    sd_bus_emit_signal(bus, kNotificationsPath, kNotificationsName, "NotificationClosed", "uu", id,
                       kDismissedByUser);
  });
}

}  // namespace platform::testing
