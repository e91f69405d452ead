#pragma once

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "host/request_outcome.h"
#include "platform/client/notification.h"
#include "platform/core/uuid.h"

// The notifier: the host bundle's program Contents/Helpers/tonebrook-notify, which shows one
// request's notification and stays to serve its "Show in Files" action. The host leaves two
// seconds after its queue is idle, long before a user clicks, so the notification is shown by a
// program of its own, started detached (platform::startDetached): it is never the host's child,
// and it runs outside Contents/MacOS, where every process counts as the running host.
namespace host {

// kActionWait: how long the notifier serves the action before it leaves.
inline constexpr std::chrono::seconds kActionWait{600};

// NotifierArguments is what the host hands the notifier:
// `tonebrook-notify --request ID --wait SECONDS [--failure] SUMMARY BODY [FILE-URL...]`.
struct NotifierArguments {
  platform::Uuid request;
  std::chrono::seconds wait = kActionWait;
  platform::DesktopNotification notification;
};

// notifierCommandLine: `program` and the arguments that hand it `arguments`.
std::vector<std::string> notifierCommandLine(const std::filesystem::path& program,
                                             const NotifierArguments& arguments);
// parseNotifierArguments reads the arguments after the program's path; nullopt when they are
// anything else (an unknown option, a missing text, a file that is not a URL).
std::optional<NotifierArguments> parseNotifierArguments(const std::vector<std::string>& arguments);

// notifierOfHost: the notifier program of the host bundle `hostBundle`; notifierOfThisHost: that
// of the bundle this program runs from (empty when /proc/self/exe cannot be read).
std::filesystem::path notifierOfHost(const std::filesystem::path& hostBundle);
std::filesystem::path notifierOfThisHost();

// notifyingHandler: an OutcomeHandler that starts `program` detached for each outcome, with
// notificationFor(outcome). Its standard input and output are /dev/null; its standard error is
// the host's own, so that where no journal runs its log line lands where the host's do. A
// notifier that cannot be started is logged; the handler never waits for it.
OutcomeHandler notifyingHandler(std::filesystem::path program);

// runNotifier is the notifier's main: shows the notification (platform::showNotification) and
// serves its action for the time given. When nothing could show it, or the file manager did not
// show the files, it logs one line with the request's identifier. Returns the exit status: 0,
// or 2 for arguments it cannot read (with a usage line on standard error).
int runNotifier(const std::vector<std::string>& arguments);

}  // namespace host
