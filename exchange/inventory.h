#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "exchange/records.h"
#include "platform/core/bookmarks.h"

namespace FinderConversion {

using Inventory = TextMap;

inline constexpr std::string_view kDirectoryMarker = "directory";

// hash: the SHA-256 of a file's contents as 64 lower-case hexadecimal characters.
std::string hash(const std::filesystem::path& file);

// inventory of the tree below `root`: each file's relative path to its digest, each
// directory's relative path plus "/" to kDirectoryMarker. Hidden entries included, no link
// followed; fails with the add-on sentences or a platform error.
Inventory inventory(const std::filesystem::path& root);

// matchesInventory compares a fresh inventory with an expected one, in the full form or the
// file-only form; keys and values compare under canonical equivalence (NFC).
bool matchesInventory(const Inventory& actual, const Inventory& expected);
bool matchesInventory(const std::optional<Inventory>& actual,
                      const std::optional<Inventory>& expected);

// boundApp: the receipt's appPath when an item exists there, else the location its bookmark
// resolves to through `bookmarks`, the desktop's (the bookmark error passes through).
std::filesystem::path boundApp(const Receipt& receipt, const platform::Bookmarks& bookmarks);

}  // namespace FinderConversion
