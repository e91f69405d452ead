#include "provider/host_launch.h"

#include <algorithm>
#include <utility>

#include "exchange/constants.h"
#include "exchange/record_files.h"
#include "exchange/records.h"

namespace provider {
namespace {

using FinderConversion::sameFile;

// launchError: the reason the launch did not reach the bound copy, or nullopt when it did.
std::optional<std::string> launchError(const Launch& launch,
                                       const std::optional<platform::RunningApplication>& instance,
                                       const std::optional<platform::Error>& error) {
  if (error) return error->description();
  if (!instance || !instance->bundleURL ||
      !sameFile(*instance->bundleURL, launch.boundApplication)) {
    return std::string(kDifferentCopySentence);
  }
  return std::nullopt;
}

// refuse answers the request in place of the host and takes it out of the queue. Each step's
// failure is dropped: the host may already have taken the request, and the waiting call only
// needs the acknowledgement.
void refuse(const Launch& launch, const std::string& reason) {
  namespace names = FinderConversion::names;
  const std::string name = FinderConversion::fileName(launch.requestID);
  try {
    FinderConversion::refuse(launch.root, launch.requestID,
                             std::string(kCouldNotLaunchPrefix) + reason);
  } catch (const std::exception&) {
  }
  try {
    std::optional<platform::Directory> queue =
        FinderConversion::existingStateDirectory(launch.root, names::kRequests);
    platform::Directory rejected = FinderConversion::stateDirectory(launch.root, names::kRejected);
    if (queue) queue->moveWithoutReplacing(name, rejected, name);
  } catch (const std::exception&) {
  }
}

}  // namespace

bool isBoundCopyRunning(platform::Desktop& desktop, const std::string& bundleIdentifier,
                        const std::filesystem::path& boundApplication) {
  std::vector<platform::RunningApplication> running = desktop.runningApplications(bundleIdentifier);
  return std::any_of(running.begin(), running.end(), [&](const platform::RunningApplication& app) {
    return app.bundleURL && sameFile(*app.bundleURL, boundApplication);
  });
}

platform::OpenConfiguration launchConfiguration(bool verification,
                                                const std::filesystem::path& root) {
  platform::OpenConfiguration configuration;
  configuration.activates = false;
  configuration.createsNewApplicationInstance = true;
  configuration.arguments = {std::string(FinderConversion::kFinderServiceOption)};
  if (verification) {
    configuration.arguments.emplace_back(FinderConversion::kVerifyFinderInboxOption);
    configuration.arguments.push_back(root.string());
  }
  return configuration;
}

void launchBoundCopy(platform::Desktop& desktop, std::shared_ptr<std::atomic<bool>> launchInFlight,
                     const platform::OpenConfiguration& configuration, Launch launch) {
  launchInFlight->store(true);
  auto handler = [launchInFlight, launch](std::optional<platform::RunningApplication> instance,
                                          std::optional<platform::Error> error) {
    completeLaunch(*launchInFlight, launch, instance, error);
  };
  try {
    desktop.openApplication(launch.boundApplication, configuration, std::move(handler));
  } catch (const platform::Error& error) {
    // A launch refused on the spot ends like one that failed later, so the flag cannot stay set.
    completeLaunch(*launchInFlight, launch, std::nullopt, error);
  } catch (const std::exception& error) {
    // Any other refusal too (a thread that cannot start throws std::system_error).
    completeLaunch(*launchInFlight, launch, std::nullopt,
                   platform::Error(std::string(platform::kLaunchDomain), 1, error.what()));
  }
}

void completeLaunch(std::atomic<bool>& launchInFlight, const Launch& launch,
                    const std::optional<platform::RunningApplication>& instance,
                    const std::optional<platform::Error>& error) {
  launchInFlight.store(false);
  if (std::optional<std::string> reason = launchError(launch, instance, error)) {
    refuse(launch, *reason);
  }
}

}  // namespace provider
