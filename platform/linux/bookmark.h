#pragma once

#include <cstdint>
#include <filesystem>
#include <vector>

#include "platform/core/bookmarks.h"
#include "platform/core/url.h"

namespace platform {

// Bookmark data, format 1: the UTF-8 bytes of the compact JSON object
// {"bookmark":1,"url":"file:///...","device":D,"inode":I}.

// makeBookmark makes bookmark data for an existing local file or directory; throws an Error
// of kBookmarkDomain (or errnoError) otherwise.
std::vector<std::uint8_t> makeBookmark(const Url& location);

// resolveBookmark gives the location named by "url" when an item exists there (a stale device
// or inode is ignored); throws an Error of kBookmarkDomain when the data is not format 1 or
// nothing exists at its location.
Url resolveBookmark(const std::vector<std::uint8_t>& data);

// FormatOneBookmarks is the Linux desktop's Bookmarks: format 1 through makeBookmark and
// resolveBookmark. The host, a Linux program, may also call those two directly.
class FormatOneBookmarks final : public Bookmarks {
 public:
  std::vector<std::uint8_t> make(const Url& location) const override {
    return makeBookmark(location);
  }
  Url resolve(const std::vector<std::uint8_t>& data) const override {
    return resolveBookmark(data);
  }
};

}  // namespace platform
