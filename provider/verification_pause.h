#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/desktop/desktop.h"

namespace provider {

inline constexpr std::string_view kHoldCallbackOption = "--verify-hold-callback";
inline constexpr double kLongestPause = 3.0;

// verificationPause reads the pause that a verification run asks for: the number right after
// the first "--verify-hold-callback" among `arguments` (program path included). The whole text
// must be the number; only values above 0 and at most 3 seconds count. nullopt means no pause.
std::optional<platform::Seconds> verificationPause(const std::vector<std::string>& arguments);

// pauseForVerification runs the desktop's run loop for the pause the process arguments ask for,
// so timers keep firing while it holds the delivery.
void pauseForVerification(platform::Desktop& desktop);

}  // namespace provider
