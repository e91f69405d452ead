#pragma once

#include <systemd/sd-bus.h>

#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/core/services_names.h"
#include "platform/desktop/desktop.h"
#include "platform/linux/run_loop.h"

namespace platform {

// The Services machinery over the D-Bus session bus: the object /app/tonebrook/Services with
// interface app.tonebrook.Services and method Convert(a{sv} pasteboard, s userData) -> ().

// ServicesBus serves Convert calls on the run loop's thread. A call is taken off the bus,
// answered later from posted work: the provider's convert runs outside sd-bus's dispatch, so
// convert may nest runUntil and the bus keeps being served meanwhile (a second call then reaches
// convert re-entrantly and is answered at once). A failure is the D-Bus error
// app.tonebrook.Services.Failed with the sentence as its message, made valid UTF-8 (invalid
// bytes replaced by U+FFFD); a reply that cannot be sent is logged.
class ServicesBus final : private RunLoopSource {
 public:
  // Faults no caller can be told of (a reply that cannot be sent) go to `log`.
  ServicesBus(RunLoop& loop, Log& log) : loop_(loop), log_(log) {}
  ~ServicesBus();
  ServicesBus(const ServicesBus&) = delete;
  ServicesBus& operator=(const ServicesBus&) = delete;

  // serve makes `provider` the one that answers and requests each of `names` as a well-known
  // name, connecting to the session bus on first use (DBUS_STARTER_ADDRESS when the bus started
  // this process, else the user's session bus). Failures (no bus, a name taken or invalid) are
  // not reported: the process then simply gets no calls. A process the bus started has a caller
  // held for one of `names`: for it, serve returns why it cannot answer (no names, a name not
  // taken, no connection), and nullopt when every name is its own.
  std::optional<std::string> serve(ServicesProvider& provider,
                                   const std::vector<std::string>& names);
  // connected: the session bus connection is open.
  bool connected() const noexcept { return bus_ != nullptr; }
  // onConnectionLost: `handler` runs on the loop's thread when an open connection closes (the
  // bus went away); a connection never made is no loss. The loss itself is logged.
  void onConnectionLost(std::function<void()> handler) { lost_ = std::move(handler); }
  // finish gives back the names this process owns, takes off the bus every call routed here
  // before that, answers them and the calls whose posted work has not run yet, then flushes
  // every reply: the process is about to end, and a caller must not be left without an answer.
  void finish();

 private:
  struct PendingCall;

  int descriptor() const override;
  short events() const override;
  std::optional<MonotonicTime> deadline() const override;
  void perform() override;

  static bool startedByBus();
  int connect();  // 0, or the negative errno of the failure
  void disconnect();
  void lose();
  static int onConvert(sd_bus_message* call, void* self, sd_bus_error* error);
  void answer(const std::shared_ptr<PendingCall>& call);

  RunLoop& loop_;
  Log& log_;
  sd_bus* bus_ = nullptr;
  ServicesProvider* provider_ = nullptr;
  std::function<void()> lost_;
  std::vector<std::string> owned_;  // the well-known names this connection was granted
  std::deque<std::shared_ptr<PendingCall>> waiting_;  // taken off the bus, not yet answered
  std::shared_ptr<ServicesBus*> self_ = std::make_shared<ServicesBus*>(this);
};

}  // namespace platform
