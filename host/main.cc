// Tonebrook, the stand-in host application: the program the Finder conversion add-on binds to.
// Each role is one command-line option; the first argument after the program path chooses it.

#include <cstdio>
#include <exception>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "exchange/constants.h"
#include "host/finder_service.h"
#include "host/installer.h"

namespace {

struct Role {
  std::string_view option;
  int (*run)(const std::vector<std::string>& arguments);  // arguments after the option
};

constexpr Role kRoles[] = {
    {FinderConversion::kFinderServiceOption, host::runFinderService},
    {"--install-addon", host::runInstallAddOn},
    {"--retire-provider", host::runRetireProvider},
};

int usage() {
  std::fputs(host::kFinderServiceUsage, stderr);
  std::fputs(
      "       Tonebrook --install-addon PACKAGE\n"
      "       Tonebrook --retire-provider\n",
      stderr);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> arguments(argv, argv + argc);
  if (arguments.size() < 2) return usage();
  for (const Role& role : kRoles) {
    if (arguments[1] != role.option) continue;
    try {
      return role.run(std::vector<std::string>(arguments.begin() + 2, arguments.end()));
    } catch (const std::exception& error) {
      std::fprintf(stderr, "Tonebrook: %s\n", error.what());
      return 1;
    }
  }
  return usage();
}
