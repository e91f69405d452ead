#pragma once

#include <atomic>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/core/uuid.h"
#include "platform/desktop/desktop.h"

namespace provider {

inline constexpr std::string_view kDifferentCopySentence =
    "macOS opened a different copy. The conversion was not delivered.";
inline constexpr std::string_view kCouldNotLaunchPrefix = "Tonebrook could not launch: ";

// isBoundCopyRunning: a running application with `bundleIdentifier` lives at the same file as
// `boundApplication`. Instances without a bundle location are skipped.
bool isBoundCopyRunning(platform::Desktop& desktop, const std::string& bundleIdentifier,
                        const std::filesystem::path& boundApplication);

// launchConfiguration: a new background instance with "--finder-service", and in a
// verification run also "--verify-finder-inbox" and the state root's path.
platform::OpenConfiguration launchConfiguration(bool verification,
                                                const std::filesystem::path& root);

// Launch is one request to start the bound copy for the request `requestID` of `root`.
struct Launch {
  std::filesystem::path boundApplication;
  platform::Uuid requestID;
  std::filesystem::path root;
};

// launchBoundCopy sets `launchInFlight` and asks the desktop to open the bound copy; it returns
// at once. The completion handler keeps the flag's owner alive (the pointer may alias into it)
// until it has run, then finishes the launch with completeLaunch.
void launchBoundCopy(platform::Desktop& desktop, std::shared_ptr<std::atomic<bool>> launchInFlight,
                     const platform::OpenConfiguration& configuration, Launch launch);

// completeLaunch is the completion handler's work, safe on any thread (it touches files only,
// never the desktop): it clears `launchInFlight` first; when the launch failed or reached
// another copy it answers the request with a refusing acknowledgement and moves the request
// file into "rejected", each step tried whatever became of the one before.
void completeLaunch(std::atomic<bool>& launchInFlight, const Launch& launch,
                    const std::optional<platform::RunningApplication>& instance,
                    const std::optional<platform::Error>& error);

}  // namespace provider
