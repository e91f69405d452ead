#include "platform/linux/services_bus.h"

#include <systemd/sd-bus.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <utility>

#include "platform/core/unicode.h"
#include "platform/linux/convert_call.h"

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

const sd_bus_vtable* servicesVtable(sd_bus_message_handler_t handler) {
  static const sd_bus_vtable kVtable[] = {
      SD_BUS_VTABLE_START(0),
      SD_BUS_METHOD(kServicesConvertMethod, "a{sv}s", "", handler, SD_BUS_VTABLE_UNPRIVILEGED),
      SD_BUS_VTABLE_END,
  };
  return kVtable;
}

// The most messages finish takes off the bus before it answers: more than any queue of real
// calls, few enough that a flood cannot hold a process that is ending.
constexpr int kMessagesTakenAtTheEnd = 1000;

}  // namespace

ServicesBus::~ServicesBus() {
  disconnect();
}

std::optional<std::string> ServicesBus::serve(ServicesProvider& provider,
                                              const std::vector<std::string>& names) {
  provider_ = &provider;
  const bool activated = startedByBus();
  if (const int r = connect(); r < 0) {
    if (!activated) return std::nullopt;
    return std::string("The bus that started this process cannot be reached: ") + std::strerror(-r);
  }
  // A taken or invalid name only means no calls arrive under it, unless the bus started this
  // process for it: then a caller waits until the name is taken or this process ends.
  if (activated && names.empty()) {
    return "The bus started this process, but its Info.plist names no NSPortName to serve.";
  }
  std::optional<std::string> failure;
  for (const auto& name : names) {
    const int r = sd_bus_request_name(bus_, name.c_str(), 0);
    if (r >= 0) owned_.push_back(name);
    if (r < 0 && activated && !failure) {
      failure = "The bus name " + name + " cannot be taken (" + std::strerror(-r) + ").";
    }
  }
  return failure;
}

bool ServicesBus::startedByBus() {
  const char* starter = std::getenv("DBUS_STARTER_ADDRESS");  // NOLINT(concurrency-mt-unsafe)
  return starter != nullptr && *starter != '\0';
}

int ServicesBus::connect() {
  if (bus_ != nullptr) return 0;
  sd_bus* bus = nullptr;
  int r = 0;
  const char* starter = std::getenv("DBUS_STARTER_ADDRESS");  // NOLINT(concurrency-mt-unsafe)
  if (startedByBus()) {
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
    return r;
  }
  bus_ = bus;
  loop_.addSource(*this);
  return 0;
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
    if (r < 0 || sd_bus_is_open(bus_) <= 0) {
      lose();
      return;
    }
    if (r == 0) return;
  }
}

void ServicesBus::lose() {
  disconnect();
  log_.write(LogPriority::notice, "The session bus connection closed.", std::nullopt);
  if (lost_) lost_();
}

void ServicesBus::finish() {
  if (bus_ != nullptr) {
    // The names go first. Once the bus has answered that, every call it routed here before is
    // in this connection's queue: taken off below and answered with the others. A later call
    // starts the next provider instead of reaching a process that ends without reading it
    // (its caller would hear NoReply, and could not tell whether anything was queued).
    for (const std::string& name : owned_) sd_bus_release_name(bus_, name.c_str());
    owned_.clear();
    for (int message = 0; message < kMessagesTakenAtTheEnd; ++message) {
      if (sd_bus_process(bus_, nullptr) <= 0) break;
    }
  }
  while (!waiting_.empty()) {
    std::shared_ptr<PendingCall> call = waiting_.front();
    waiting_.pop_front();
    answer(call);
  }
  if (bus_ != nullptr) sd_bus_flush(bus_);
}

int ServicesBus::onConvert(sd_bus_message* message, void* self, sd_bus_error* error) {
  auto* bus = static_cast<ServicesBus*>(self);
  auto call = std::make_shared<PendingCall>(message);
  if (const int r = readConvertCall(message, call->pasteboard, call->userData, error); r < 0) {
    return r;
  }
  // Answered from posted work, outside sd_bus_process, which must not be entered again; kept
  // in waiting_ meanwhile so that finish can answer it should the process end first.
  bus->waiting_.push_back(call);
  std::weak_ptr<ServicesBus*> alive = bus->self_;
  bus->loop_.post([alive, call] {
    auto owner = alive.lock();
    if (!owner) return;
    auto& waiting = (*owner)->waiting_;
    const auto found = std::find(waiting.begin(), waiting.end(), call);
    if (found == waiting.end()) return;  // finish has answered it
    waiting.erase(found);
    (*owner)->answer(call);
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
  // The bus refuses a message whose text is not UTF-8, and the caller would wait in vain.
  const std::optional<std::string> sentence =
      failure ? std::optional(validUtf8(*failure)) : std::nullopt;
  int r = -ENOTCONN;  // the connection went while convert ran
  if (bus_ != nullptr && !sentence) {
    r = sd_bus_reply_method_return(call->call, "");
  } else if (bus_ != nullptr) {
    sd_bus_error reply{};  // SD_BUS_ERROR_NULL without its C99 compound literal
    sd_bus_error_set(&reply, kServicesFailedError, sentence->c_str());
    r = sd_bus_reply_method_error(call->call, &reply);
    sd_bus_error_free(&reply);
  }
  if (r < 0) {
    log_.write(LogPriority::error,
               std::string("The answer to a Convert call could not be sent (") + std::strerror(-r) +
                   "): " + (sentence ? *sentence : "success"),
               std::nullopt);
  }
}

}  // namespace platform
