// services_app is a Services provider process for the bus tests: put into a bundle whose Info
// declares NSServices, it registers through setServicesProvider and answers every Convert with
// a failure naming its main bundle and the user data ("quit" ends it instead). It ends by
// itself after ten seconds so that no test leaves it behind.
//
// "--terminate-with-a-call-waiting NAME" registers under NAME instead and stages the end of a
// retiring provider: a first timer tick blocks the loop for 1.5 s (after writing "ready" on
// standard output), a call sent meanwhile is taken off the bus when the loop goes on, and a
// second timer then terminates before the call's posted work has run.
#include <chrono>
#include <iostream>
#include <string>
#include <thread>

#include "platform/desktop/desktop.h"

namespace {

class EchoProvider final : public platform::ServicesProvider {
 public:
  explicit EchoProvider(platform::Desktop& desktop) : desktop_(desktop) {}

  void convert(platform::Pasteboard&, const std::optional<std::string>& userData,
               std::optional<std::string>& error) override {
    if (userData == "quit") {
      desktop_.post([this] { desktop_.terminate(); });  // after the reply has gone
      return;
    }
    error =
        "main bundle " + desktop_.mainBundleURL().string() + " user data " + userData.value_or("");
  }

 private:
  platform::Desktop& desktop_;
};

}  // namespace

int main(int argc, char** argv) {
  auto desktop = platform::makeDesktop(argc, argv);
  EchoProvider provider(*desktop);
  const std::vector<std::string> arguments = desktop->arguments();
  std::shared_ptr<platform::Timer> block;
  std::shared_ptr<platform::Timer> end;
  if (arguments.size() == 3 && arguments[1] == "--terminate-with-a-call-waiting") {
    desktop->registerServicesProvider(provider, arguments[2]);
    bool blocked = false;
    block = desktop->scheduleRepeatingTimer(platform::Seconds(0.2), [&blocked] {
      if (blocked) return;
      blocked = true;
      std::cout << "ready" << std::endl;
      std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    });
    end = desktop->scheduleRepeatingTimer(platform::Seconds(1.6), [&] { desktop->terminate(); });
    desktop->run();
  }
  desktop->setServicesProvider(provider);
  auto limit =
      desktop->scheduleRepeatingTimer(platform::Seconds(10), [&] { desktop->terminate(); });
  desktop->run();
}
