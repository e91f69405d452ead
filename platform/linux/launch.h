#pragma once

#include <filesystem>

#include "platform/desktop/desktop.h"

namespace platform {

// launchApplication starts the executable of the bundle at `application` as a new background
// process and returns at once. On a thread of its own it spawns the process (a new session,
// standard streams on /dev/null, no inherited descriptors, default signal mask and handlers,
// argv = executable path then `configuration.arguments`), calls `completion` exactly once
// (an errnoError when spawn or exec fails, else the instance: its PID and the bundle enclosing
// the executable file actually run, links resolved), then waits for the process so that no
// zombie is left. The thread owns copies of everything it uses.
void launchApplication(const std::filesystem::path& application,
                       const OpenConfiguration& configuration, LaunchCompletion completion);

// bundleExecutable: Contents/MacOS/<CFBundleExecutable>, else Contents/MacOS/<bundle name
// without extension>; nullopt when `application` is not a bundle.
std::optional<std::filesystem::path> bundleExecutable(const std::filesystem::path& application);

}  // namespace platform
