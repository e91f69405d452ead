#pragma once

#include <chrono>
#include <string>
#include <vector>

#include "platform/core/services_names.h"
#include "platform/core/url.h"

namespace platform {

// ServicesCall is one call of the conversion service's Convert method on the session bus:
// the well-known name is started by the bus when nobody owns it yet (bus activation).
struct ServicesCall {
  std::string busName = kAddOnPortName;
  std::vector<Url> files;  // sent as "public.file-url": as
  std::string userData;
  // timeout must outlast the slowest delivery: a 3 s verification pause, the 8 s wait for the
  // host and the checks before them, plus the provider's own start.
  std::chrono::milliseconds timeout{30'000};
};

// ServicesClientError domain: every failure of callServices carries a sentence for the user
// as its description, never a raw bus error name.
inline constexpr std::string_view kServicesClientDomain = "Tonebrook.ServicesClient";

// callServices sends `call` and waits for the answer. Returns when the provider accepted the
// request; throws Error otherwise: the provider's own refusal (app.tonebrook.Services.Failed)
// with its message unchanged, the bus's failures (no session bus, nothing installed under the
// name, the provider failed to start, no answer in time) as plain sentences of the client.
void callServices(const ServicesCall& call);

}  // namespace platform
