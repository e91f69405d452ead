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

std::string validUtf8(std::string_view text) {
  static constexpr std::string_view kReplacement = "\xEF\xBF\xBD";
  std::string valid;
  valid.reserve(text.size());
  const auto* bytes = reinterpret_cast<const utf8proc_uint8_t*>(text.data());
  std::size_t at = 0;
  while (at < text.size()) {
    utf8proc_int32_t codePoint = 0;
    const utf8proc_ssize_t length =
        utf8proc_iterate(bytes + at, static_cast<utf8proc_ssize_t>(text.size() - at), &codePoint);
    if (length <= 0 || codePoint < 0) {
      valid += kReplacement;  // one replacement per byte that starts no valid sequence
      ++at;
      continue;
    }
    valid.append(text.substr(at, static_cast<std::size_t>(length)));
    at += static_cast<std::size_t>(length);
  }
  return valid;
}

std::string asciiUpperCase(std::string_view text) {
  std::string result(text);
  for (char& c : result) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return result;
}

}  // namespace platform
