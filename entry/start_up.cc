#include "entry/start_up.h"

#include <cstdlib>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "entry/run_mode.h"
#include "exchange/constants.h"
#include "provider/provider.h"

namespace entry {
namespace {

// createProvider: the provider of this run, or nullptr after reporting why it cannot be made.
std::shared_ptr<Provider> createProvider(platform::Desktop& desktop,
                                         const std::vector<std::string>& args, const RunMode& mode,
                                         const ProcessExit& processExit) {
  const bool verifying = mode.verification || mode.liveVerification;
  try {
    const std::filesystem::path root =
        verifying ? fileLocation(args[2]) : FinderConversion::stateRoot();
    return Provider::create(desktop, root, verifying);
  } catch (const platform::Error& error) {
    processExit.writeStandardError(error.description() + "\n");
  } catch (const std::exception& error) {
    processExit.writeStandardError(std::string(error.what()) + "\n");
  }
  processExit.exit(1);
  return nullptr;
}

}  // namespace

int startUp(platform::Desktop& desktop, const ProcessExit& processExit) {
  desktop.setAccessoryActivationPolicy();
  const std::vector<std::string> args = desktop.arguments();
  const RunMode mode = runMode(args);

  const std::shared_ptr<Provider> provider = createProvider(desktop, args, mode, processExit);
  if (!provider) return 1;
  const std::optional<std::string> unserved = desktop.setServicesProvider(*provider);
  if (unserved && !mode.verification && !mode.liveVerification) {
    // The bus holds its caller until the name is taken or this process ends (25 s, say, for a
    // half-installed package): end now, so that the caller hears at once and may try again.
    // Ending releases the provider lock.
    desktop.log().write(platform::LogPriority::error, *unserved + " Ending.", std::nullopt);
    processExit.exit(1);
    return 1;
  }
  if (mode.liveVerification) desktop.registerServicesProvider(*provider, args[3]);
  if (!mode.verification && !mode.liveVerification) {
    // A normal run serves the session bus and nobody else: when that bus goes, so does the
    // provider (releasing its lock for the provider of the next bus). Verification runs are
    // not bound to a bus.
    std::weak_ptr<Provider> weak = provider;
    desktop.setServicesConnectionLostHandler([weak] {
      if (std::shared_ptr<Provider> alive = weak.lock()) alive->endWhenIdle();
    });
  }

  std::shared_ptr<platform::Timer> harness;
  if (mode.verification) {
    provider->logFailures(false);  // the harness reports the one failure on standard error
    // A provider that retires before the host's sign has not verified anything.
    provider->onRetire([processExit] {
      processExit.writeStandardError(std::string(kFinishingUpdateSentence) + "\n");
      processExit.exit(1);
    });
    harness = runVerificationHarness(desktop, *provider, provider->root(), args, processExit);
    if (!harness) return 1;  // the harness has already ended the process
  }
  desktop.run();
  return 0;
}

ProcessExit realProcessExit() {
  return {.writeStandardError = [](std::string_view text) { std::cerr << text << std::flush; },
          .exit =
              [](int status) {
                std::cerr.flush();
                std::_Exit(status);
              }};
}

}  // namespace entry
