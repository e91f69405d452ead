#include "exchange/inventory.h"

#include <cerrno>
#include <system_error>
#include <vector>

#include "platform/core/digest.h"
#include "platform/core/error.h"
#include "platform/core/files.h"
#include "platform/core/unicode.h"

namespace FinderConversion {
namespace {

using platform::ItemKind;

void addEntry(Inventory& result, const std::filesystem::path& root,
              const std::filesystem::path& entry) {
  const std::string relative = entry.lexically_relative(root).generic_string();
  switch (platform::itemKind(entry)) {
    case ItemKind::symbolicLink:
      throw failure("The add-on contains an unexpected symbolic link.");
    case ItemKind::regularFile:
      result[relative] = hash(entry);
      return;
    case ItemKind::directory:
      result[relative + "/"] = std::string(kDirectoryMarker);
      return;
    case ItemKind::missing:  // removed while the walk ran
      throw platform::errnoError(ENOENT, entry.native());
    case ItemKind::other:
      break;
  }
  throw failure("The add-on contains an unsupported special entry. Nothing was changed.");
}

// canonical: the inventory with every key and value in NFC; nullopt when a text is not valid
// UTF-8 or two keys are canonically equivalent, since such a map cannot be compared soundly.
std::optional<Inventory> canonical(const Inventory& map) {
  Inventory result;
  for (const auto& [key, value] : map) {
    std::optional<std::string> canonicalKey = platform::canonicalComposition(key);
    std::optional<std::string> canonicalValue = platform::canonicalComposition(value);
    if (!canonicalKey || !canonicalValue) return std::nullopt;
    if (!result.emplace(std::move(*canonicalKey), std::move(*canonicalValue)).second) {
      return std::nullopt;
    }
  }
  return result;
}

bool holdsDirectoryEntries(const Inventory& expected) {
  for (const auto& entry : expected) {
    if (!entry.first.empty() && entry.first.back() == '/') return true;
  }
  return false;
}

std::vector<std::string> components(const std::string& key) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  while (start <= key.size()) {
    std::size_t end = key.find('/', start);
    if (end == std::string::npos) end = key.size();
    if (end > start) parts.push_back(key.substr(start, end - start));
    start = end + 1;
  }
  return parts;
}

// completed adds to a file-only inventory the directory entries its keys imply; nullopt when a
// key climbs out with ".." or starts at "/".
std::optional<Inventory> completed(const Inventory& fileOnly) {
  Inventory copy = fileOnly;
  for (const auto& entry : fileOnly) {
    const std::vector<std::string> parts = components(entry.first);
    for (const std::string& part : parts) {
      if (part == "..") return std::nullopt;
    }
    if (!entry.first.empty() && entry.first.front() == '/') return std::nullopt;
    std::string prefix;
    for (std::size_t i = 0; i + 1 < parts.size(); ++i) {
      prefix += parts[i] + "/";
      copy[prefix] = std::string(kDirectoryMarker);
    }
  }
  return copy;
}

}  // namespace

std::string hash(const std::filesystem::path& file) {
  return platform::sha256HexOfFile(file);
}

Inventory inventory(const std::filesystem::path& root) {
  const ItemKind rootKind = platform::itemKind(root);
  if (rootKind == ItemKind::missing) throw platform::errnoError(ENOENT, root.native());
  if (rootKind == ItemKind::symbolicLink) {
    throw failure("The add-on root is an unexpected symbolic link.");
  }
  const std::string unreadable = "The add-on package cannot be read.";
  std::error_code error;
  std::filesystem::recursive_directory_iterator walk(root, error);
  if (error) throw failure(unreadable);
  Inventory result;
  for (const std::filesystem::recursive_directory_iterator end; walk != end;) {
    addEntry(result, root, walk->path());
    walk.increment(error);
    // A subdirectory that cannot be listed would leave its files out of the inventory.
    if (error) throw failure(unreadable);
  }
  if (result.empty()) throw failure("The add-on package is empty.");
  return result;
}

bool matchesInventory(const Inventory& actual, const Inventory& expected) {
  // The canonical form comes first, so that a directory entry implied twice, once per
  // equivalent spelling, is one entry.
  std::optional<Inventory> canonicalExpected = canonical(expected);
  const std::optional<Inventory> canonicalActual = canonical(actual);
  if (!canonicalExpected || !canonicalActual) return false;
  if (!holdsDirectoryEntries(*canonicalExpected)) {
    canonicalExpected = completed(*canonicalExpected);
    if (!canonicalExpected) return false;
  }
  return *canonicalActual == *canonicalExpected;
}

bool matchesInventory(const std::optional<Inventory>& actual,
                      const std::optional<Inventory>& expected) {
  if (!actual || !expected) return !actual && !expected;
  return matchesInventory(*actual, *expected);
}

std::filesystem::path boundApp(const Receipt& receipt, const platform::Bookmarks& bookmarks) {
  if (receipt.appPath) {
    const std::optional<std::filesystem::path> path = receipt.appPath->filePath();
    if (path && platform::identity(*path)) return *path;
  }
  return *bookmarks.resolve(receipt.appBookmark).filePath();
}

}  // namespace FinderConversion
