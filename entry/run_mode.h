#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace entry {

inline constexpr std::string_view kVerifyProviderOption = "--verify-provider";
inline constexpr std::string_view kVerifyLiveProviderOption = "--verify-live-provider";

// RunMode is what the command line asks of the provider process. Only argument 1 selects a
// mode, and only with enough arguments; anything else is a normal run on the default root.
struct RunMode {
  bool verification = false;      // packaged verification: argument 1, at least 5 arguments
  bool liveVerification = false;  // live verification: argument 1, at least 4 arguments
};

RunMode runMode(const std::vector<std::string>& args);

// fileLocation: a path argument as a location, a relative one counted from the current
// directory; nothing is standardised and nothing is tested.
std::filesystem::path fileLocation(const std::string& argument);

}  // namespace entry
