#pragma once

#include <systemd/sd-bus.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/desktop/desktop.h"
#include "platform/linux/run_loop.h"
#include "platform/core/services_names.h"

namespace platform {

// The Services machinery over the D-Bus session bus: the object /app/tonebrook/Services with
// interface app.tonebrook.Services and method Convert(a{sv} pasteboard, s userData) -> ().

// ServicesBus serves Convert calls on the run loop's thread. A call is taken off the bus,
// answered later from posted work: the provider's convert runs outside sd-bus's dispatch, so
// convert may nest runUntil and the bus keeps being served meanwhile (a second call then reaches
// convert re-entrantly and is answered at once). A failure is the D-Bus error
// app.tonebrook.Services.Failed with the sentence as its message.
class ServicesBus final : private RunLoopSource {
 public:
  explicit ServicesBus(RunLoop& loop) : loop_(loop) {}
  ~ServicesBus();
  ServicesBus(const ServicesBus&) = delete;
  ServicesBus& operator=(const ServicesBus&) = delete;

  // serve makes `provider` the one that answers and requests each of `names` as a well-known
  // name, connecting to the session bus on first use (DBUS_STARTER_ADDRESS when the bus started
  // this process, else the user's session bus). Failures (no bus, a name taken or invalid) are
  // silent: the process then simply gets no calls.
  void serve(ServicesProvider& provider, const std::vector<std::string>& names);
  // connected: the session bus connection is open.
  bool connected() const noexcept { return bus_ != nullptr; }

 private:
  struct PendingCall;

  int descriptor() const override;
  short events() const override;
  std::optional<MonotonicTime> deadline() const override;
  void perform() override;

  bool connect();
  void disconnect();
  static int onConvert(sd_bus_message* call, void* self, sd_bus_error* error);
  void answer(const std::shared_ptr<PendingCall>& call);

  RunLoop& loop_;
  sd_bus* bus_ = nullptr;
  ServicesProvider* provider_ = nullptr;
  std::shared_ptr<ServicesBus*> self_ = std::make_shared<ServicesBus*>(this);
};

}  // namespace platform
