#include "platform/linux/bookmark.h"

#include <string>

#include "platform/core/error.h"
#include "platform/core/files.h"
#include "platform/core/json.h"

namespace platform {
namespace {

constexpr int kMalformed = 1;
constexpr int kNothingThere = 2;

Error bookmarkError(int code, std::string description) {
  return Error(std::string(kBookmarkDomain), code, std::move(description));
}

Error malformed() {
  return bookmarkError(kMalformed, "The bookmark data is not in a known format.");
}

// locationOf reads the "url" of format-1 bookmark data by the strict JSON rules of every record
// (a member twice is refused, 1.0 is the integer 1); throws when the data is not format 1.
Url locationOf(const std::vector<std::uint8_t>& data) {
  Json object;
  try {
    object = parseStrictJson(std::string(data.begin(), data.end()));
  } catch (const Error&) {
    throw malformed();
  }
  if (!object.is_object()) throw malformed();
  const auto member = [&object](const char* name) -> const Json* {
    const auto found = object.find(name);
    return found == object.end() ? nullptr : &*found;
  };
  const Json* format = member("bookmark");
  const Json* url = member("url");
  const Json* device = member("device");
  const Json* inode = member("inode");
  if (!format || strictUnsigned(*format) != 1u || !url || !url->is_string() || !device ||
      !strictUnsigned(*device) || !inode || !strictUnsigned(*inode)) {
    throw malformed();
  }
  std::optional<Url> location = Url::parse(url->get<std::string>());
  if (!location || !location->filePath()) {
    throw bookmarkError(kMalformed, "The bookmark data does not name a local file.");
  }
  return *location;
}

}  // namespace

std::vector<std::uint8_t> makeBookmark(const Url& location) {
  const std::optional<std::filesystem::path> path = location.filePath();
  if (!path) throw bookmarkError(kMalformed, location.text() + ": not a local file location");
  // A link is bookmarked by what it reaches, as long as that is a file or directory.
  const ItemKind kind = resolvedItemKind(*path);
  const std::optional<FileIdentity> facts = identity(*path);
  if ((kind != ItemKind::regularFile && kind != ItemKind::directory) || !facts)
    throw bookmarkError(kNothingThere, location.text() + ": no file or directory there");
  // Written by the one JSON writer, in the documented member order.
  const OrderedJson object = {{"bookmark", 1},
                              {"url", location.text()},
                              {"device", facts->device},
                              {"inode", facts->inode}};
  const std::string text = encodeJson(object);
  return std::vector<std::uint8_t>(text.begin(), text.end());
}

Url resolveBookmark(const std::vector<std::uint8_t>& data) {
  Url location = locationOf(data);
  // The device and inode are only a record of the original item; the path decides.
  if (!identity(*location.filePath())) {
    throw bookmarkError(kNothingThere, location.text() + ": the bookmarked item no longer exists");
  }
  return location;
}

}  // namespace platform
