#include "platform/linux/journal.h"

#include <sys/stat.h>
#include <syslog.h>
#include <systemd/sd-journal.h>
#include <unistd.h>

#include <cerrno>
#include <memory>

namespace platform {
namespace {

int syslogPriority(LogPriority priority) {
  switch (priority) {
    case LogPriority::error:
      return LOG_ERR;
    case LogPriority::warning:
      return LOG_WARNING;
    case LogPriority::notice:
      return LOG_NOTICE;
  }
  return LOG_ERR;
}

// writeStandardError puts `text` on standard error, retrying on a short write or EINTR; a failure
// is dropped, as there is nowhere left to report it.
void writeStandardError(std::string_view text) {
  while (!text.empty()) {
    const ssize_t written = ::write(STDERR_FILENO, text.data(), text.size());
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return;
    text.remove_prefix(static_cast<std::size_t>(written));
  }
}

// journalListens: the journal's socket is there. sd-journal drops a message without error when
// it is not, so the fallback needs this test of its own.
bool journalListens() {
  struct stat facts {};
  return ::stat("/run/systemd/journal/socket", &facts) == 0 && S_ISSOCK(facts.st_mode);
}

}  // namespace

void JournalLog::write(LogPriority priority, std::string_view message,
                       const std::optional<Uuid>& request) {
  const std::string line = logLine(message, request);
  int sent = -ENOENT;
  if (!journalListens()) {
    // Standard error, below.
  } else if (request) {
    sent = sd_journal_send("MESSAGE=%s", line.c_str(), "PRIORITY=%i", syslogPriority(priority),
                           "SYSLOG_IDENTIFIER=%s", identifier_.c_str(), "TONEBROOK_REQUEST_ID=%s",
                           request->text().c_str(), nullptr);
  } else {
    sent = sd_journal_send("MESSAGE=%s", line.c_str(), "PRIORITY=%i", syslogPriority(priority),
                           "SYSLOG_IDENTIFIER=%s", identifier_.c_str(), nullptr);
  }
  if (sent < 0) writeStandardError(identifier_ + ": " + line + "\n");
}

std::unique_ptr<Log> makeSystemLog(std::string identifier) {
  return std::make_unique<JournalLog>(std::move(identifier));
}

}  // namespace platform
