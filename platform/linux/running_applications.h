#pragma once

#include <string>
#include <vector>

#include "platform/desktop/desktop.h"

namespace platform {

// runningApplicationsWithIdentifier lists the processes of the current user whose executable
// (/proc/PID/exe) is <B>/Contents/MacOS/<file> for a bundle B with identifier
// `bundleIdentifier`, in PID order, each with bundle URL B. Processes that end or cannot be
// inspected while the list is made are left out.
std::vector<RunningApplication> runningApplicationsWithIdentifier(
    const std::string& bundleIdentifier);

}  // namespace platform
