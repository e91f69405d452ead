#pragma once

#include <filesystem>
#include <string_view>

#include "platform/core/uuid.h"
#include "platform/desktop/desktop.h"

namespace provider {

inline constexpr std::string_view kUnconfirmedSentence =
    "The request was queued but Tonebrook has not confirmed it. Open the linked app and check its "
    "queue before retrying.";
inline constexpr platform::Seconds kAcknowledgementDeadline{8.0};
inline constexpr platform::Seconds kPollSlice{0.05};

// awaitAcknowledgement polls the acknowledgement file of `requestID` under `root` until the
// deadline, 8 seconds from the call, running the desktop's run loop for 0.05 seconds between
// two reads. Returns when the answer accepts; throws failure(message) when it refuses and
// failure(kUnconfirmedSentence) when none could be read in time. A file that cannot be read or
// decoded yet counts as no answer. Removes nothing.
void awaitAcknowledgement(platform::Desktop& desktop, const std::filesystem::path& root,
                          const platform::Uuid& requestID);

}  // namespace provider
