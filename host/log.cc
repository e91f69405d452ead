#include "host/log.h"

#include <memory>

#include "platform/core/log.h"

namespace host {

void logEvent(std::string_view line) {
  // One log for the process, made on first use: the host's streams are /dev/null when the
  // provider launches it, so the journal is where its faults must go.
  static const std::unique_ptr<platform::Log> log = platform::makeSystemLog("Tonebrook");
  log->write(platform::LogPriority::error, line, std::nullopt);
}

}  // namespace host
