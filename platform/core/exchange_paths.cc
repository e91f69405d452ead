#include "platform/core/exchange_paths.h"

#include <fcntl.h>
#include <stdio.h>

#include <cerrno>

#include "platform/core/error.h"

namespace platform {

void exchangePaths(const std::filesystem::path& first, const std::filesystem::path& second) {
  if (renameat2(AT_FDCWD, first.c_str(), AT_FDCWD, second.c_str(), RENAME_EXCHANGE) != 0) {
    throw errnoError(errno, second.native());
  }
}

}  // namespace platform
