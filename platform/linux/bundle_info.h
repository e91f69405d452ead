#pragma once

#include <string_view>

#include "platform/desktop/bundle.h"

namespace platform {

// readBundleInfo: the Info of a bundle whose Contents/Info.plist holds `bytes`, an XML or binary
// property list. Bytes that are not a property list, or one whose root is not a dictionary, give
// an empty Info (a bundle without identifier). Bundle::open reads the file and calls this.
Bundle::Info readBundleInfo(std::string_view bytes);

}  // namespace platform
