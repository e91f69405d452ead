// tonebrook-notify, the host bundle's notifier (Contents/Helpers): shows how one conversion
// request ended and serves the notification's "Show in Files" action; see host/notifier.h.
#include <string>
#include <vector>

#include "host/notifier.h"

int main(int argc, char** argv) {
  return host::runNotifier(std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc));
}
