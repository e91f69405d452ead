#pragma once

#include <filesystem>

namespace platform {

// exchangePaths swaps two existing items in one atomic step (renameat2 with RENAME_EXCHANGE):
// a reader of either path sees the old item or the new one, never neither and never a mix.
// Both must be on the same file system. Throws errnoError naming `second` on failure; nothing
// has moved then.
void exchangePaths(const std::filesystem::path& first, const std::filesystem::path& second);

}  // namespace platform
