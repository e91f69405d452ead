#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace platform {

// canonicalComposition: `text` in Unicode Normalization Form C, so that canonically equivalent
// texts (a precomposed and a decomposed accented letter) become the same bytes. nullopt when
// `text` is not valid UTF-8.
std::optional<std::string> canonicalComposition(std::string_view text);

// validUtf8: `text` with every byte that does not belong to a well-formed UTF-8 sequence
// (stray continuation bytes, overlong forms, surrogates, truncated sequences) replaced by
// U+FFFD; valid text comes back unchanged. What goes on the bus or into the log must be UTF-8.
std::string validUtf8(std::string_view text);

// asciiUpperCase: `text` with the letters a to z made upper case and every other byte as it is,
// whatever the locale (a format name as menus and notifications show it: "MP3").
std::string asciiUpperCase(std::string_view text);

}  // namespace platform
