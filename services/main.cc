// tonebrook-services: the Services menu of this desktop. Sends the chosen files and format to
// the conversion service and reports the outcome: exit 0, or the sentence and exit 1.
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include "platform/client/notification.h"
#include "platform/client/services_client.h"
#include "platform/core/error.h"
#include "services/client_arguments.h"
#include "services/client_help.h"

namespace {

void report(bool notify, const services::NotificationTexts& texts, bool failure) {
  if (notify) platform::showNotification({texts.summary, texts.body, failure, {}});
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> arguments(argv + (argc > 0 ? 1 : 0), argv + argc);
  if (services::asksForHelp(arguments)) {
    std::cout << services::kClientHelp << std::flush;
    return std::cout ? 0 : 1;
  }
  const bool notify = !arguments.empty() && arguments.front() == "--notify";
  try {
    const services::ClientArguments parsed =
        services::parseClientArguments(arguments, std::filesystem::current_path());
    platform::callServices({.files = parsed.files, .userData = parsed.userData});
    report(parsed.notify, services::successTexts(parsed), false);
    return 0;
  } catch (const platform::Error& error) {
    std::cerr << error.description() << "\n" << std::flush;
    report(notify, services::failureTexts(error.description()), true);
  } catch (const std::exception& error) {
    std::cerr << error.what() << "\n" << std::flush;
    report(notify, services::failureTexts(error.what()), true);
  }
  return 1;
}
