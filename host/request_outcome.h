#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "platform/client/notification.h"
#include "platform/core/url.h"
#include "platform/core/uuid.h"

namespace host {

// FailedFile is one input that was not converted: its file name (valid UTF-8, as shown) and
// the plain reason (host/failure_reasons.h).
struct FailedFile {
  std::string name;
  std::string reason;
  bool operator==(const FailedFile&) const = default;
};

// RequestOutcome is how a conversion request ended, once its acknowledgement is terminal on
// disk: what the user is told.
struct RequestOutcome {
  platform::Uuid id;
  std::string format;                // the request's format; empty when no longer known
  std::size_t converted = 0;         // jobs "done"
  std::vector<FailedFile> failures;  // failed jobs whose input is known, in job order
  std::size_t failedUnnamed = 0;     // failed jobs whose input is no longer known
  std::vector<platform::Url> outputs;
};

// OutcomeHandler hears of each request that has ended; it runs on the host's thread between
// its looks at the queue, so it must not wait.
using OutcomeHandler = std::function<void(const RequestOutcome&)>;

// notificationFor is the desktop notification that tells `outcome`, word for word:
// - every file converted: "Converted to MP3", "Tonebrook converted 1 file." (or "7 files.");
// - some failed: "Converted 6 of 7 files to MP3";
// - none converted: "Could not convert to MP3" (one file), "Could not convert 3 files to MP3";
// with one body line per failed file, "“notes.wav”: not an audio file", and for failed files
// whose names are lost "2 files could not be converted.". Without a known format the summary
// ends before " to ...". The format is shown in upper case. Any failure makes it a failure
// notification; the outputs are the items to show.
platform::DesktopNotification notificationFor(const RequestOutcome& outcome);

}  // namespace host
