#include "host/roles.h"

#include <cstdio>
#include <exception>

namespace host {

bool asksForHelp(const std::vector<std::string>& arguments) {
  return arguments.size() >= 2 && (arguments[1] == "--help" || arguments[1] == "-h");
}

std::optional<int> runRole(std::span<const Role> roles, const std::vector<std::string>& arguments) {
  if (arguments.size() < 2) return std::nullopt;
  for (const Role& role : roles) {
    if (arguments[1] != role.option) continue;
    try {
      return role.run(std::vector<std::string>(arguments.begin() + 2, arguments.end()));
    } catch (const std::exception& error) {
      std::fprintf(stderr, "Tonebrook: %s\n", error.what());
      return 1;
    }
  }
  return std::nullopt;
}

}  // namespace host
