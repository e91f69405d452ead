#include "platform/core/unicode.h"

#include <utf8proc.h>

#include <cstdlib>
#include <memory>

namespace platform {
namespace {

struct FreeDeleter {
  void operator()(utf8proc_uint8_t* bytes) const { std::free(bytes); }  // NOLINT: utf8proc mallocs
};

}  // namespace

std::optional<std::string> canonicalComposition(std::string_view text) {
  if (text.empty()) return std::string();
  utf8proc_uint8_t* output = nullptr;
  // utf8proc_map (unlike utf8proc_NFC) reports invalid UTF-8 as a negative result.
  const utf8proc_ssize_t size =
      utf8proc_map(reinterpret_cast<const utf8proc_uint8_t*>(text.data()),
                   static_cast<utf8proc_ssize_t>(text.size()), &output,
                   static_cast<utf8proc_option_t>(UTF8PROC_STABLE | UTF8PROC_COMPOSE));
  const std::unique_ptr<utf8proc_uint8_t, FreeDeleter> owned(output);
  if (size < 0) return std::nullopt;
  return std::string(reinterpret_cast<const char*>(output), static_cast<std::size_t>(size));
}

std::string replacingInvalidUtf8(std::string_view text) {
  std::string result;
  result.reserve(text.size());
  const auto* bytes = reinterpret_cast<const utf8proc_uint8_t*>(text.data());
  utf8proc_ssize_t remaining = static_cast<utf8proc_ssize_t>(text.size());
  while (remaining > 0) {
    utf8proc_int32_t character = 0;
    // utf8proc_iterate refuses overlong forms, surrogates and values beyond U+10FFFF.
    const utf8proc_ssize_t length = utf8proc_iterate(bytes, remaining, &character);
    if (length > 0) {
      result.append(reinterpret_cast<const char*>(bytes), static_cast<std::size_t>(length));
    } else {
      result += "\uFFFD";
    }
    const utf8proc_ssize_t step = length > 0 ? length : 1;
    bytes += step;
    remaining -= step;
  }
  return result;
}

}  // namespace platform
