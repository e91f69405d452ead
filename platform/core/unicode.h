#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace platform {

// canonicalComposition: `text` in Unicode Normalization Form C, so that canonically equivalent
// texts (a precomposed and a decomposed accented letter) become the same bytes. nullopt when
// `text` is not valid UTF-8.
std::optional<std::string> canonicalComposition(std::string_view text);

// replacingInvalidUtf8: `text` with every byte that does not begin a valid UTF-8 sequence
// replaced by U+FFFD, so that it can be shown and encoded; valid text comes back unchanged.
std::string replacingInvalidUtf8(std::string_view text);

}  // namespace platform
