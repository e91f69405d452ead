#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/core/log.h"

namespace platform {

// JournalLog writes each event to the user's journal through sd-journal: MESSAGE is logLine's
// text, with PRIORITY, SYSLOG_IDENTIFIER and, for an event about a request,
// TONEBROOK_REQUEST_ID. When the journal cannot take it (no journal socket), the line goes to
// standard error instead as "<identifier>: <line>\n", in one write.
class JournalLog final : public Log {
 public:
  explicit JournalLog(std::string identifier) : identifier_(std::move(identifier)) {}
  void write(LogPriority priority, std::string_view message,
             const std::optional<Uuid>& request) override;

 private:
  std::string identifier_;
};

}  // namespace platform
