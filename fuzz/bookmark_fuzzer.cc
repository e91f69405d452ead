// Format-1 bookmark data as boundApp resolves the receipt's appBookmark: a refusal is a bookmark
// error, a resolved location is a local file that exists, and bookmark data made for it
// resolves to it again. Resolving only looks at the file system (stat); nothing is written.
#include <vector>

#include "fuzz/finding.h"
#include "platform/core/files.h"
#include "platform/linux/bookmark.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::vector<std::uint8_t> bytes(data, data + size);
  std::optional<platform::Url> location;
  try {
    location = platform::resolveBookmark(bytes);
  } catch (const platform::Error& error) {
    fuzz::requireDomain(error, platform::kBookmarkDomain, "a refusal that is not a bookmark error");
    return 0;
  }
  const auto path = location->filePath();
  fuzz::require(path.has_value(), "a resolved bookmark that names no local file", location->text());
  fuzz::require(platform::identity(*path).has_value(), "a resolved bookmark names nothing",
                location->text());
  std::vector<std::uint8_t> made;
  try {
    made = platform::makeBookmark(*location);
  } catch (const platform::Error&) {
    return 0;  // only files and directories get bookmark data; a device or socket does not
  }
  fuzz::require(platform::resolveBookmark(made) == *location,
                "bookmark data made for a location resolves elsewhere", location->text());
  return 0;
}
