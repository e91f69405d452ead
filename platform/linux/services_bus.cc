#include "platform/linux/services_bus.h"

#include <systemd/sd-bus.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <utility>

namespace platform {

// PendingCall is one Convert call taken off the bus and not yet answered.
struct ServicesBus::PendingCall {
  explicit PendingCall(sd_bus_message* message) : call(sd_bus_message_ref(message)) {}
  ~PendingCall() { sd_bus_message_unref(call); }
  PendingCall(const PendingCall&) = delete;
  PendingCall& operator=(const PendingCall&) = delete;

  sd_bus_message* call;
  InProcessPasteboard pasteboard;
  std::string userData;
};

namespace {

// readStrings reads an `as` at the current position.
int readStrings(sd_bus_message* message, std::vector<std::string>& strings) {
  int r = sd_bus_message_enter_container(message, 'a', "s");
  if (r < 0) return r;
  const char* text = nullptr;
  while ((r = sd_bus_message_read(message, "s", &text)) > 0) strings.emplace_back(text);
  if (r < 0) return r;
  return sd_bus_message_exit_container(message);
}

// readVariantStrings reads a variant holding `as`; 0 when it holds another kind (then skipped).
int readVariantStrings(sd_bus_message* message, std::vector<std::string>& strings) {
  char type = 0;
  const char* contents = nullptr;
  int r = sd_bus_message_peek_type(message, &type, &contents);
  if (r < 0) return r;
  if (contents == nullptr || std::strcmp(contents, "as") != 0) {
    r = sd_bus_message_skip(message, "v");
    return r < 0 ? r : 0;
  }
  if ((r = sd_bus_message_enter_container(message, 'v', "as")) < 0) return r;
  if ((r = readStrings(message, strings)) < 0) return r;
  if ((r = sd_bus_message_exit_container(message)) < 0) return r;
  return 1;
}

// readEntry reads one {sv} of the pasteboard dictionary into `pasteboard`.
int readEntry(sd_bus_message* message, Pasteboard& pasteboard, sd_bus_error* error) {
  const char* key = nullptr;
  int r = sd_bus_message_read(message, "s", &key);
  if (r < 0) return r;
  if (std::strcmp(key, kFileUrlPasteboardKey) == 0) {
    std::vector<std::string> urls;
    if ((r = readVariantStrings(message, urls)) < 0) return r;
    if (r == 0) {
      return sd_bus_error_set(error, SD_BUS_ERROR_INVALID_ARGS,
                              "public.file-url must hold an array of strings");
    }
    pasteboard.writeEntries(urls);
  } else if (std::strcmp(key, kFilenamesPasteboardKey) == 0) {
    std::vector<std::string> paths;
    if ((r = readVariantStrings(message, paths)) < 0) return r;
    pasteboard.setFilenames({r > 0 ? std::optional(std::move(paths)) : std::nullopt});
  } else if ((r = sd_bus_message_skip(message, "v")) < 0) {
    return r;
  }
  return 1;
}

int readPasteboard(sd_bus_message* message, Pasteboard& pasteboard, sd_bus_error* error) {
  int r = sd_bus_message_enter_container(message, 'a', "{sv}");
  if (r < 0) return r;
  while ((r = sd_bus_message_enter_container(message, 'e', "sv")) > 0) {
    if ((r = readEntry(message, pasteboard, error)) < 0) return r;
    if ((r = sd_bus_message_exit_container(message)) < 0) return r;
  }
  if (r < 0) return r;
  return sd_bus_message_exit_container(message);
}

const sd_bus_vtable* servicesVtable(sd_bus_message_handler_t handler) {
  static const sd_bus_vtable kVtable[] = {
      SD_BUS_VTABLE_START(0),
      SD_BUS_METHOD(kServicesConvertMethod, "a{sv}s", "", handler, SD_BUS_VTABLE_UNPRIVILEGED),
      SD_BUS_VTABLE_END,
  };
  return kVtable;
}

}  // namespace

ServicesBus::~ServicesBus() {
  disconnect();
}

void ServicesBus::serve(ServicesProvider& provider, const std::vector<std::string>& names) {
  provider_ = &provider;
  if (!connect()) return;
  for (const auto& name : names) {
    // Silent by design: a taken or invalid name only means no calls arrive under it.
    sd_bus_request_name(bus_, name.c_str(), 0);
  }
}

bool ServicesBus::connect() {
  if (bus_ != nullptr) return true;
  sd_bus* bus = nullptr;
  int r = 0;
  const char* starter = std::getenv("DBUS_STARTER_ADDRESS");  // NOLINT(concurrency-mt-unsafe)
  if (starter != nullptr && *starter != '\0') {
    if ((r = sd_bus_new(&bus)) >= 0 && (r = sd_bus_set_address(bus, starter)) >= 0 &&
        (r = sd_bus_set_bus_client(bus, 1)) >= 0) {
      r = sd_bus_start(bus);
    }
  } else {
    r = sd_bus_open_user(&bus);
  }
  if (r >= 0) {
    r = sd_bus_add_object_vtable(bus, nullptr, kServicesObjectPath, kServicesInterface,
                                 servicesVtable(&ServicesBus::onConvert), this);
  }
  if (r < 0) {
    sd_bus_unref(bus);
    return false;
  }
  bus_ = bus;
  loop_.addSource(*this);
  return true;
}

void ServicesBus::disconnect() {
  if (bus_ == nullptr) return;
  loop_.removeSource(*this);
  // Replies already queued still go out before the connection closes.
  sd_bus_flush_close_unref(bus_);
  bus_ = nullptr;
}

int ServicesBus::descriptor() const {
  return bus_ != nullptr ? sd_bus_get_fd(bus_) : -1;
}

short ServicesBus::events() const {
  const int wanted = bus_ != nullptr ? sd_bus_get_events(bus_) : 0;
  return static_cast<short>(wanted > 0 ? wanted : 0);
}

std::optional<MonotonicTime> ServicesBus::deadline() const {
  std::uint64_t usec = 0;
  if (bus_ == nullptr || sd_bus_get_timeout(bus_, &usec) < 0 || usec == UINT64_MAX) {
    return std::nullopt;
  }
  // sd-bus counts on CLOCK_MONOTONIC, which is the steady clock's.
  return MonotonicTime(Seconds(static_cast<double>(usec) / 1e6));
}

void ServicesBus::perform() {
  // Bounded, so a flood of messages cannot starve timers; the deadline is "now" while more wait.
  for (int round = 0; round < 64 && bus_ != nullptr; ++round) {
    const int r = sd_bus_process(bus_, nullptr);
    if (r < 0) disconnect();
    if (r <= 0) return;
  }
}

int ServicesBus::onConvert(sd_bus_message* message, void* self, sd_bus_error* error) {
  auto* bus = static_cast<ServicesBus*>(self);
  auto call = std::make_shared<PendingCall>(message);
  int r = readPasteboard(message, call->pasteboard, error);
  if (r < 0) return r;
  const char* userData = nullptr;
  if ((r = sd_bus_message_read(message, "s", &userData)) < 0) return r;
  call->userData = userData;
  // Answered from posted work, outside sd_bus_process, which must not be entered again.
  std::weak_ptr<ServicesBus*> alive = bus->self_;
  bus->loop_.post([alive, call] {
    if (auto owner = alive.lock()) (*owner)->answer(call);
  });
  return 1;
}

void ServicesBus::answer(const std::shared_ptr<PendingCall>& call) {
  std::optional<std::string> failure;
  if (provider_ == nullptr) {
    failure = "No Services provider is registered.";
  } else {
    try {
      provider_->convert(call->pasteboard, call->userData, failure);
    } catch (const std::exception& error) {
      failure = error.what();
    }
  }
  if (bus_ == nullptr) return;  // the connection went while convert ran
  if (!failure) {
    sd_bus_reply_method_return(call->call, "");
    return;
  }
  sd_bus_error reply = SD_BUS_ERROR_NULL;
  sd_bus_error_set(&reply, kServicesFailedError, failure->c_str());
  sd_bus_reply_method_error(call->call, &reply);
  sd_bus_error_free(&reply);
}

}  // namespace platform
