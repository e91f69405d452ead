#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/core/uuid.h"

namespace platform {

// How much an event matters, in the journal's terms.
enum class LogPriority { error, warning, notice };

// Log is where a process records what went wrong: one line per event, with the request it
// concerns when there is one. Its standard streams are often /dev/null, so this is the only
// trace a fault leaves. Implementations may be called from any thread.
class Log {
 public:
  virtual ~Log() = default;
  // write records one event. `message` may hold any bytes: logLine makes it one line of UTF-8.
  virtual void write(LogPriority priority, std::string_view message,
                     const std::optional<Uuid>& request) = 0;
};

// logLine is the text of one event: `message` as valid UTF-8 (invalid bytes replaced by
// U+FFFD) with control characters written as \n, \t or \xHH so that it stays one line, then
// " (request <ID>)" when a request is given.
std::string logLine(std::string_view message, const std::optional<Uuid>& request);

// makeSystemLog is the user's log on this platform, under `identifier` (the program's name).
// Defined by the desktop backend the build links (platform_linux: the user's journal through
// sd-journal, standard error when there is no journal).
std::unique_ptr<Log> makeSystemLog(std::string identifier);

}  // namespace platform
