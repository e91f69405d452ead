#include "entry/run_mode.h"

namespace entry {

RunMode runMode(const std::vector<std::string>& args) {
  RunMode mode;
  mode.verification = args.size() >= 5 && args[1] == kVerifyProviderOption;
  mode.liveVerification = args.size() >= 4 && args[1] == kVerifyLiveProviderOption;
  return mode;
}

std::filesystem::path fileLocation(const std::string& argument) {
  const std::filesystem::path path(argument);
  return path.is_absolute() ? path : std::filesystem::current_path() / path;
}

}  // namespace entry
