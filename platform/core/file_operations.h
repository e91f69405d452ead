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

// checkCanCreate creates `path` as a new empty file (never through a link, never over anything
// already there) and removes it again: whether a file can be made there now. Throws errnoError
// with the reason (EACCES, EROFS, ENOSPC, EEXIST...).
void checkCanCreate(const std::filesystem::path& path);

}  // namespace platform
