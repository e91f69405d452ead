#pragma once

#include <filesystem>

namespace platform {

// The file tests and the move of the Desktop interface, shared by the real desktop and the test
// double so that both behave alike on real files.

// itemExists: anything exists at `path`, following symbolic links.
bool itemExists(const std::filesystem::path& path);
// isExecutableRegularFile: a regular file (links followed) that this process may execute.
bool isExecutableRegularFile(const std::filesystem::path& path);
// moveItemWithoutReplacing renames `from` to `to` and fails with errnoError (EEXIST when `to`
// exists) rather than replace anything at `to`.
void moveItemWithoutReplacing(const std::filesystem::path& from, const std::filesystem::path& to);
// renameWithoutReplacing is the same move for a caller that takes "something is there" as an
// answer: false when `to` exists (nothing moved); other failures throw.
bool renameWithoutReplacing(const std::filesystem::path& from, const std::filesystem::path& to);

}  // namespace platform
