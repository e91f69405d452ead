#include "host/notifier.h"

#include <charconv>
#include <cstdio>
#include <exception>
#include <system_error>
#include <utility>

#include "host/log.h"
#include "host/roles.h"
#include "platform/core/spawn.h"
#include "platform/desktop/bundle.h"

namespace host {
namespace {

namespace fs = std::filesystem;

constexpr const char* kRequestOption = "--request";
constexpr const char* kWaitOption = "--wait";
constexpr const char* kFailureOption = "--failure";
constexpr const char* kUsage =
    "usage: tonebrook-notify --request ID --wait SECONDS [--failure] SUMMARY BODY [FILE-URL...]\n";

std::optional<std::chrono::seconds> secondsIn(const std::string& text) {
  long long seconds = 0;
  const char* end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, seconds);
  if (error != std::errc() || stop != end || seconds < 0) return std::nullopt;
  return std::chrono::seconds(seconds);
}

// describe: the notification's texts, for the log.
std::string describe(const platform::DesktopNotification& notification) {
  return "\u201c" + notification.summary + "\u201d: " + notification.body;
}

}  // namespace

std::vector<std::string> notifierCommandLine(const fs::path& program,
                                             const NotifierArguments& arguments) {
  std::vector<std::string> line{program.string(), kRequestOption, arguments.request.text(),
                                kWaitOption, std::to_string(arguments.wait.count())};
  if (arguments.notification.failure) line.emplace_back(kFailureOption);
  line.push_back(arguments.notification.summary);
  line.push_back(arguments.notification.body);
  for (const platform::Url& item : arguments.notification.items) line.push_back(item.text());
  return line;
}

std::optional<NotifierArguments> parseNotifierArguments(const std::vector<std::string>& arguments) {
  if (arguments.size() < 6 || arguments[0] != kRequestOption || arguments[2] != kWaitOption) {
    return std::nullopt;
  }
  std::optional<platform::Uuid> request = platform::Uuid::parse(arguments[1]);
  std::optional<std::chrono::seconds> wait = secondsIn(arguments[3]);
  if (!request || !wait) return std::nullopt;
  NotifierArguments parsed{*request, *wait, {}};
  std::size_t next = 4;
  parsed.notification.failure = arguments[next] == kFailureOption;
  if (parsed.notification.failure) ++next;
  if (arguments.size() < next + 2) return std::nullopt;
  parsed.notification.summary = arguments[next++];
  parsed.notification.body = arguments[next++];
  for (; next < arguments.size(); ++next) {
    std::optional<platform::Url> item = platform::Url::parse(arguments[next]);
    if (!item || !item->isLocalFile()) return std::nullopt;
    parsed.notification.items.push_back(*std::move(item));
  }
  return parsed;
}

fs::path notifierOfHost(const fs::path& hostBundle) {
  return helperOfHost(hostBundle, kNotifierProgram);
}

fs::path notifierOfThisHost() {
  std::error_code error;
  const fs::path executable = fs::canonical("/proc/self/exe", error);
  if (error) return {};
  return notifierOfHost(platform::mainBundleOfExecutable(executable));
}

OutcomeHandler notifyingHandler(fs::path program) {
  return [program = std::move(program)](const RequestOutcome& outcome) {
    platform::SpawnOptions options;
    options.arguments =
        notifierCommandLine(program, {outcome.id, kActionWait, notificationFor(outcome)});
    options.errors = platform::StreamTarget::inheritedStream();
    try {
      platform::startDetached(options);
    } catch (const std::exception& error) {
      logEvent("request " + outcome.id.text() +
               ": not told, the notifier did not start: " + error.what());
    }
  };
}

int runNotifier(const std::vector<std::string>& arguments) {
  const std::optional<NotifierArguments> parsed = parseNotifierArguments(arguments);
  if (!parsed) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  const platform::NotificationResult result =
      platform::showNotification(parsed->notification, parsed->wait);
  const std::string label = "request " + parsed->request.text() + ": ";
  if (result.channel == platform::NotificationChannel::none) {
    logEvent(label + "nothing could show its notification (no notification server, zenity or " +
             "kdialog): " + describe(parsed->notification));
  } else if (!result.problem.empty()) {
    logEvent(label + result.problem);
  }
  return 0;
}

}  // namespace host
