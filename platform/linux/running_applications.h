#pragma once

#include <string>
#include <vector>

#include "platform/desktop/desktop.h"

namespace platform {

// runningApplicationsWithIdentifier lists the processes of this user's session: those of the
// current user that serve the same home and whose executable (/proc/PID/exe) is
// <B>/Contents/MacOS/<file> for a bundle B with identifier `bundleIdentifier`, in PID order,
// each with bundle URL B. A process serves the same home when the home directory its
// environment gives by homeDirectory's rule (HOME from /proc/PID/environ when set and absolute,
// else the user database entry) names the directory homeDirectory() names. Processes that end
// or cannot be inspected while the list is made are left out. Only the processes that pass the
// executable test have their environment read.
std::vector<RunningApplication> runningApplicationsWithIdentifier(
    const std::string& bundleIdentifier);

}  // namespace platform
