// Tonebrook, the stand-in host application: the program the Finder conversion add-on binds to.
// Each role is one command-line option; the first argument after the program path chooses it.

#include <cstdio>
#include <exception>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "exchange/constants.h"
#include "host/finder_service.h"
#include "host/installer.h"
#include "host/roles.h"
#include "platform/core/error.h"
#include "platform/core/spawn.h"
#include "platform/desktop/bundle.h"

namespace {

constexpr host::Role kRoles[] = {
    {FinderConversion::kFinderServiceOption, host::runFinderService},
};

// The installer roles run in the bundle's installer program (host::installerOfHost): only a
// process that serves the queue may run Contents/MacOS/Tonebrook, since a provider takes every
// process running it for the host.
constexpr std::string_view kInstallerRoles[] = {host::kInstallAddOnOption,
                                                host::kRetireProviderOption};

void printUsage(std::FILE* stream) {
  std::fputs(host::kFinderServiceUsage, stream);
  std::fputs("       ", stream);
  std::fputs(host::kInstallerUsage, stream);
}

int usage() {
  printUsage(stderr);
  return 2;
}

int help() {
  printUsage(stdout);
  for (const char* text : {host::kHelpUsage, host::kHostIntroduction, host::kFinderServiceHelp,
                           host::kInstallerHelp, host::kHelpOptionHelp}) {
    std::fputs(text, stdout);
  }
  return std::fflush(stdout) == 0 ? 0 : 1;
}

// becomeInstaller replaces this process with the installer program, same arguments after the
// program path; returns only when that fails.
int becomeInstaller(const std::vector<std::string>& arguments) {
  try {
    const auto bundle =
        platform::mainBundleOfExecutable(std::filesystem::canonical("/proc/self/exe"));
    std::vector<std::string> replaced = arguments;
    replaced[0] = host::installerOfHost(bundle).string();
    platform::replaceProcess(replaced);
  } catch (const platform::Error& error) {
    std::fprintf(stderr, "Tonebrook: %s\n", error.description().c_str());
  } catch (const std::exception& error) {
    std::fprintf(stderr, "Tonebrook: %s\n", error.what());
  }
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> arguments(argv, argv + argc);
  if (arguments.size() < 2) return usage();
  if (host::asksForHelp(arguments)) return help();
  for (const std::string_view option : kInstallerRoles) {
    if (arguments[1] == option) return becomeInstaller(arguments);
  }
  if (const std::optional<int> status = host::runRole(kRoles, arguments)) return *status;
  return usage();
}
