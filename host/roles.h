#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// The command line of the host bundle's programs: Contents/MacOS/Tonebrook serves the queue and
// hands the installer roles to Contents/Helpers/tonebrook-install, which runs them.
namespace host {

inline constexpr std::string_view kInstallAddOnOption = "--install-addon";
inline constexpr std::string_view kRetireProviderOption = "--retire-provider";
// kInstallerUsage: the usage of the installer roles, after "usage: " or its indent.
inline constexpr const char* kInstallerUsage =
    "Tonebrook --install-addon [PACKAGE]\n"
    "       Tonebrook --retire-provider\n";

// Role is one command-line role: its option, and what runs it with the arguments after it.
struct Role {
  std::string_view option;
  int (*run)(const std::vector<std::string>& arguments);
};

// runRole runs the role that arguments[1] names and returns its exit status; an exception it
// throws is printed as "Tonebrook: <what>" and gives 1. Nullopt when no role matches.
std::optional<int> runRole(std::span<const Role> roles, const std::vector<std::string>& arguments);

}  // namespace host
