#pragma once

#include <initializer_list>
#include <string>
#include <vector>

namespace platform {

// runTool runs `arguments` (the first found on PATH) directly, without a shell, so every
// argument reaches the tool byte for byte. It is started like every child (see spawn.h): its
// standard streams on /dev/null, no inherited descriptors, default signal mask and handlers;
// the call waits for it to end. True when it ran, exited (not killed by a signal) and its exit
// status is one of `accepted` (all below 128); false when it could not be started or for any
// other end. Never throws for the tool's failures.
[[nodiscard]] bool runTool(std::vector<std::string> arguments, std::initializer_list<int> accepted);

}  // namespace platform
