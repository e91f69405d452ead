#pragma once

#include <cstdint>
#include <vector>

#include "platform/core/url.h"

namespace platform {

// Bookmarks makes bookmark data for a location and resolves it again. What the bytes hold is
// the desktop's own affair (each backend has its format), so data is only ever resolved by the
// kind of Bookmarks that made it: code that must not see the whole desktop (exchange/) is
// handed one.
class Bookmarks {
 public:
  // make: bookmark data for an existing local file or directory; throws an Error otherwise.
  virtual std::vector<std::uint8_t> make(const Url& location) const = 0;
  // resolve: the location the data names, when an item exists there; throws an Error of
  // kBookmarkDomain when the data is not this desktop's or nothing exists at its location.
  virtual Url resolve(const std::vector<std::uint8_t>& data) const = 0;

 protected:
  ~Bookmarks() = default;
};

}  // namespace platform
