// TonebrookQuickConversion: the conversion service of the add-on package.
#include "entry/start_up.h"
#include "platform/desktop/desktop.h"

int main(int argc, char** argv) {
  const auto desktop = platform::makeDesktop(argc, argv);
  return entry::startUp(*desktop, entry::realProcessExit());
}
