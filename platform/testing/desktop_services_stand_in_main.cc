// desktop-services-stand-in: the tests' notification server and file manager as a program, to
// watch what Tonebrook shows on a private bus by hand.
//
//   desktop-services-stand-in [--click] [--seconds N]
//
// Serves the session bus of DBUS_SESSION_BUS_ADDRESS for N seconds (default 60) and prints, one
// JSON line each, every notification and every ShowItems call it receives. With --click it
// clicks the first action of each notification a second after it arrived, as a user would.
#include <chrono>
#include <cstdlib>
#include <iostream>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>

#include "platform/core/error.h"
#include "platform/testing/desktop_services_stand_in.h"

namespace {

using platform::testing::DesktopServicesStandIn;

nlohmann::json describe(const platform::testing::ReceivedNotification& received) {
  nlohmann::json hints = nlohmann::json::object();
  if (received.urgency) hints["urgency"] = *received.urgency;
  if (received.desktopEntry) hints["desktop-entry"] = *received.desktopEntry;
  return {{"notify",
           {{"id", received.id},
            {"app_name", received.appName},
            {"app_icon", received.icon},
            {"summary", received.summary},
            {"body", received.body},
            {"actions", received.actions},
            {"hints", hints},
            {"expire_timeout", received.expireTimeout}}}};
}

}  // namespace

int main(int argc, char** argv) {
  bool click = false;
  double seconds = 60;
  for (int index = 1; index < argc; ++index) {
    const std::string argument = argv[index];
    if (argument == "--click") {
      click = true;
    } else if (argument == "--seconds" && index + 1 < argc) {
      seconds = std::strtod(argv[++index], nullptr);
    } else {
      std::cerr << "usage: desktop-services-stand-in [--click] [--seconds N]\n";
      return 2;
    }
  }
  const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS");  // NOLINT(concurrency-mt-unsafe)
  if (address == nullptr) {
    std::cerr << "desktop-services-stand-in: DBUS_SESSION_BUS_ADDRESS is not set\n";
    return 1;
  }
  try {
    DesktopServicesStandIn desktop(address);
    std::size_t told = 0;
    std::size_t shown = 0;
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (std::chrono::steady_clock::now() < end) {
      const auto notifications = desktop.notifications();
      for (; told < notifications.size(); ++told) {
        std::cout << describe(notifications[told]).dump() << std::endl;
        if (click && notifications[told].actions.size() >= 2) {
          std::this_thread::sleep_for(std::chrono::seconds(1));
          desktop.invokeAction(notifications[told].id, notifications[told].actions[0]);
          std::cout << nlohmann::json{{"clicked", notifications[told].actions[1]}}.dump()
                    << std::endl;
        }
      }
      const auto calls = desktop.shownItems();
      for (; shown < calls.size(); ++shown) {
        std::cout << nlohmann::json{{"show_items",
                                     {{"uris", calls[shown].uris},
                                      {"startup_id", calls[shown].startupId}}}}
                         .dump()
                  << std::endl;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
  } catch (const platform::Error& error) {
    std::cerr << "desktop-services-stand-in: " << error.description() << "\n";
    return 1;
  }
  return 0;
}
