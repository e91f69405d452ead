// tonebrook-install, the host bundle's installer program (Contents/Helpers): runs
// `Tonebrook --install-addon PACKAGE` and `Tonebrook --retire-provider`, which replace
// themselves with it, so that a process running Contents/MacOS/Tonebrook always serves the queue.

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "host/installer.h"

namespace {

struct Role {
  std::string_view option;
  int (*run)(const std::vector<std::string>& arguments);  // arguments after the option
};

constexpr Role kRoles[] = {
    {"--install-addon", host::runInstallAddOn},
    {"--retire-provider", host::runRetireProvider},
};

int usage() {
  std::fputs(
      "usage: Tonebrook --install-addon PACKAGE\n"
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
