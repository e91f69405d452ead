#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

// The installer role of the host: puts an add-on package in the user's Services folder, binds
// it to this copy of the host with a receipt, and makes the desktop able to reach it.
namespace host {

inline constexpr std::string_view kAddOnIdentifier = "app.tonebrook.QuickConversion";
inline constexpr std::string_view kNotAnAddOnSentence =
    "The chosen package is not a Tonebrook Quick Conversion add-on. Nothing was changed.";
inline constexpr std::string_view kChangedWhileCopyingSentence =
    "The add-on package changed while it was being installed. Nothing was changed.";
inline constexpr std::string_view kClientMissingSentence =
    "The Services client is missing from this copy of Tonebrook. Nothing was changed.";
inline constexpr std::string_view kNoAddOnBesideSentence =
    "No add-on package was found beside this copy of Tonebrook. Name one: Tonebrook "
    "--install-addon PACKAGE. Nothing was changed.";

// Installation is what one install works with.
struct Installation {
  std::filesystem::path package;     // the add-on package to install
  std::filesystem::path hostBundle;  // this copy of the host, bound by the receipt
  std::filesystem::path client;      // the Services client to put on the user's path
};

// installAddOn asks a running provider to retire (retireIdle), then, holding the lifecycle
// lock, removes what killed installers left (staged packages, a temporary receipt, the
// entries' temporary files), copies the package beside the installed one, writes the desktop
// entries and the new receipt ahead, swaps the package into place in one step and puts the
// receipt in place with one rename. Throws the sentence of the first failure; the installed
// package and receipt are then as they were.
void installAddOn(const Installation& installation);

// clientOfHost: where a host bundle keeps its Services client (Contents/Helpers).
std::filesystem::path clientOfHost(const std::filesystem::path& hostBundle);
// hostExecutableOf: the host program of a host bundle (Contents/MacOS/Tonebrook), the one the
// application entry starts.
std::filesystem::path hostExecutableOf(const std::filesystem::path& hostBundle);
// installerOfHost: the program that runs the installer roles below (Contents/Helpers, outside
// Contents/MacOS, so that an install or a retirement in progress is never taken for a running
// host). `Tonebrook --install-addon` and `--retire-provider` replace themselves with it.
std::filesystem::path installerOfHost(const std::filesystem::path& hostBundle);

// addOnBesideHost: the add-on package that is installed with a host bundle, in the same
// directory ("/usr/lib/tonebrook/Tonebrook Quick Conversion.service" for
// "/usr/lib/tonebrook/Tonebrook.app"; the build tree keeps the same relation).
std::filesystem::path addOnBesideHost(const std::filesystem::path& hostBundle);

// runInstallAddOn is `Tonebrook --install-addon [PACKAGE]` (`arguments`: those after the
// option; without PACKAGE, addOnBesideHost, or kNoAddOnBesideSentence when nothing is there):
// 0 on success, else the sentence and a line feed on standard error and 1. Runs in the program
// of installerOfHost: the host bundle is the one that holds it.
int runInstallAddOn(const std::vector<std::string>& arguments);
// runRetireProvider is `Tonebrook --retire-provider`: asks the provider of the default state
// root to retire and waits for it to go; 0, or the sentence and 1.
int runRetireProvider(const std::vector<std::string>& arguments);

}  // namespace host
