#pragma once

#include "entry/verification_harness.h"
#include "platform/desktop/desktop.h"

namespace entry {

// startUp is the provider process from start to end: accessory policy, run mode, the one
// Provider (a failure to create it writes its description and ends with status 1), the
// Services registration, the verification harness in packaged verification, then the run loop.
// In a normal run the provider ends (status 0) once the Services connection it had is lost;
// in packaged verification a provider that retires ends with status 1 and the sentence
// "The conversion add-on is finishing an update. Retry in a moment.".
// Returns the exit status when the run loop returns (0) or when the process could not start
// (1, after processExit has been told).
int startUp(platform::Desktop& desktop, const ProcessExit& processExit);

// realProcessExit writes standard error as UTF-8 bytes and ends the process at once, without
// destroying the provider or asking the application to terminate.
ProcessExit realProcessExit();

}  // namespace entry
