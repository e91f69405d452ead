// tonebrook-install, the host bundle's installer program (Contents/Helpers): runs
// `Tonebrook --install-addon PACKAGE` and `Tonebrook --retire-provider`, which replace
// themselves with it, so that a process running Contents/MacOS/Tonebrook always serves the queue.

#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "host/installer.h"
#include "host/roles.h"

namespace {

constexpr host::Role kRoles[] = {
    {host::kInstallAddOnOption, host::runInstallAddOn},
    {host::kRetireProviderOption, host::runRetireProvider},
};

int usage() {
  std::fputs("usage: ", stderr);
  std::fputs(host::kInstallerUsage, stderr);
  return 2;
}

int help() {
  std::fputs("usage: ", stdout);
  for (const char* text : {host::kInstallerUsage, host::kHelpUsage, "\n", host::kInstallerHelp,
                           host::kHelpOptionHelp}) {
    std::fputs(text, stdout);
  }
  return std::fflush(stdout) == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> arguments(argv, argv + argc);
  if (host::asksForHelp(arguments)) return help();
  if (const std::optional<int> status = host::runRole(kRoles, arguments)) return *status;
  return usage();
}
