#include "platform/linux/bookmark.h"

#include <nlohmann/json.hpp>
#include <string>

#include "platform/core/error.h"
#include "platform/core/files.h"

namespace platform {
namespace {

constexpr int kMalformed = 1;
constexpr int kNothingThere = 2;

Error bookmarkError(int code, std::string description) {
  return Error(std::string(kBookmarkDomain), code, std::move(description));
}

bool isUnsigned(const nlohmann::json& value) {
  return value.is_number_unsigned();
}

// locationOf reads the "url" of format-1 bookmark data; throws when the data is not format 1.
Url locationOf(const std::vector<std::uint8_t>& data) {
  const nlohmann::json object = nlohmann::json::parse(data.begin(), data.end(), nullptr, false);
  const auto member = [&](const char* name) {
    return object.is_object() && object.contains(name) ? object.at(name) : nlohmann::json();
  };
  const nlohmann::json format = member("bookmark");
  const nlohmann::json url = member("url");
  if (!isUnsigned(format) || format.get<std::uint64_t>() != 1 || !url.is_string() ||
      !isUnsigned(member("device")) || !isUnsigned(member("inode"))) {
    throw bookmarkError(kMalformed, "The bookmark data is not in a known format.");
  }
  std::optional<Url> location = Url::parse(url.get<std::string>());
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
  const nlohmann::json object = {{"bookmark", 1},
                                 {"url", location.text()},
                                 {"device", facts->device},
                                 {"inode", facts->inode}};
  const std::string text = object.dump();
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
