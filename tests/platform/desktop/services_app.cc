// services_app is a Services provider process for the bus tests: put into a bundle whose Info
// declares NSServices, it registers through setServicesProvider and answers every Convert with
// a failure naming its main bundle and the user data ("quit" ends it instead). It ends by
// itself after ten seconds so that no test leaves it behind.
#include <string>

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
  desktop->setServicesProvider(provider);
  auto limit =
      desktop->scheduleRepeatingTimer(platform::Seconds(10), [&] { desktop->terminate(); });
  desktop->run();
}
