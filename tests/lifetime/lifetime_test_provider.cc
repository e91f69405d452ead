// lifetime_test_provider ROOT EXECUTABLE [--busy-while FILE]
//
// A provider lifetime in a process of its own, as the provider's timer drives it: a heartbeat
// every 0.2 s, and the end (status 0) as soon as shouldRetire answers true while it is idle.
// It counts as busy, and does not ask, while FILE exists. A failed creation prints its
// description and exits with status 1.
#include <chrono>
#include <filesystem>
#include <iostream>
#include <string>
#include <thread>

#include "lifetime/finder_provider_lifetime.h"
#include "platform/core/error.h"

int main(int argc, char** argv) {
  if (argc != 3 && !(argc == 5 && std::string(argv[3]) == "--busy-while")) {
    std::cerr << "usage: lifetime_test_provider ROOT EXECUTABLE [--busy-while FILE]\n";
    return 2;
  }
  std::filesystem::path busyFile = argc == 5 ? argv[4] : "";
  try {
    FinderProviderLifetime lifetime(argv[1], argv[2], "test");
    while (true) {
      std::this_thread::sleep_for(std::chrono::milliseconds(200));
      try {
        lifetime.heartbeat();
      } catch (const platform::Error&) {
        // The provider's timer drops heartbeat errors too.
      }
      bool busy = !busyFile.empty() && std::filesystem::exists(busyFile);
      if (!busy && lifetime.shouldRetire()) return 0;
    }
  } catch (const platform::Error& error) {
    std::cerr << error.description() << '\n';
    return 1;
  }
}
