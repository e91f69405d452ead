// A bundle's Contents/Info.plist, XML or binary, as bundles of the host and the add-on are
// opened: any bytes, and the values a bundle reads from its Info.
#include "fuzz/finding.h"
#include "platform/desktop/bundle.h"
#include "platform/linux/bundle_info.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  platform::Bundle::Info info = platform::readBundleInfo(fuzz::textOf(data, size));
  const platform::Bundle bundle("/nonexistent.app", std::move(info));
  (void)bundle.identifier();
  // The executable is one file inside Contents/MacOS, whatever CFBundleExecutable says.
  if (const auto executable = bundle.executablePath()) {
    const std::string name = executable->filename().native();
    fuzz::require(executable->parent_path() == "/nonexistent.app/Contents/MacOS" && name != "." &&
                      name != ".." && name.find('\0') == std::string::npos,
                  "the executable is not one file inside Contents/MacOS", executable->native());
  }
  for (const std::string& name : bundle.servicesPortNames()) {
    fuzz::require(!name.empty(), "an empty Services port name");
  }
  return 0;
}
