#include "platform/core/run_tool.h"

#include <algorithm>

#include "platform/core/error.h"
#include "platform/core/spawn.h"

namespace platform {

bool runTool(std::vector<std::string> arguments, std::initializer_list<int> accepted) {
  if (arguments.empty()) return false;
  SpawnOptions options;
  options.arguments = std::move(arguments);
  options.searchPath = true;
  try {
    ChildProcess tool = ChildProcess::spawn(options);
    const int status = tool.wait();
    // 128 and up: a signal ended it (no tool's own exit status is accepted there).
    return status < 128 && std::find(accepted.begin(), accepted.end(), status) != accepted.end();
  } catch (const Error&) {
    return false;
  }
}

}  // namespace platform
