#include "host/request_outcome.h"

#include "platform/core/unicode.h"

namespace host {
namespace {

std::string files(std::size_t count) {
  return std::to_string(count) + (count == 1 ? " file" : " files");
}

std::string summaryOf(const RequestOutcome& outcome) {
  const std::size_t failed = outcome.failures.size() + outcome.failedUnnamed;
  const std::size_t total = outcome.converted + failed;
  const std::string target =
      outcome.format.empty() ? "" : " to " + platform::asciiUpperCase(outcome.format);
  if (failed == 0) return "Converted" + target;
  if (outcome.converted > 0) {
    return "Converted " + std::to_string(outcome.converted) + " of " + files(total) + target;
  }
  if (total == 1)
    return target.empty() ? "Could not convert the file" : "Could not convert" + target;
  return "Could not convert " + files(total) + target;
}

std::string bodyOf(const RequestOutcome& outcome) {
  if (outcome.failures.empty() && outcome.failedUnnamed == 0) {
    return "Tonebrook converted " + files(outcome.converted) + ".";
  }
  std::string body;
  for (const FailedFile& failed : outcome.failures) {
    if (!body.empty()) body += '\n';
    body += "\u201c" + failed.name + "\u201d: " + failed.reason;
  }
  if (outcome.failedUnnamed > 0) {
    if (!body.empty()) body += '\n';
    body += files(outcome.failedUnnamed) + " could not be converted.";
  }
  return body;
}

}  // namespace

platform::DesktopNotification notificationFor(const RequestOutcome& outcome) {
  return {summaryOf(outcome), bodyOf(outcome),
          !outcome.failures.empty() || outcome.failedUnnamed > 0, outcome.outputs};
}

}  // namespace host
