#include "platform/core/uuid.h"

#include <uuid/uuid.h>

#include <cctype>

namespace platform {

Uuid Uuid::random() {
  Uuid id;
  uuid_generate_random(id.bytes_.data());
  return id;
}

std::optional<Uuid> Uuid::parse(std::string_view text) {
  // libuuid accepts the same shape but needs a terminated string; checking the shape here keeps
  // embedded NULs and surrounding text out.
  if (text.size() != 36) return std::nullopt;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const bool hyphenPlace = i == 8 || i == 13 || i == 18 || i == 23;
    const auto c = static_cast<unsigned char>(text[i]);
    if (hyphenPlace ? c != '-' : std::isxdigit(c) == 0) return std::nullopt;
  }
  const std::string terminated(text);
  Uuid id;
  if (uuid_parse(terminated.c_str(), id.bytes_.data()) != 0) return std::nullopt;
  return id;
}

std::string Uuid::text() const {
  char buffer[37] = {};
  uuid_unparse_upper(bytes_.data(), buffer);
  return std::string(buffer, 36);
}

}  // namespace platform
