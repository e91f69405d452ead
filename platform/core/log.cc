#include "platform/core/log.h"

#include "platform/core/unicode.h"

namespace platform {

std::string logLine(std::string_view message, const std::optional<Uuid>& request) {
  static constexpr char kHex[] = "0123456789abcdef";
  const std::string valid = validUtf8(message);
  std::string line;
  line.reserve(valid.size() + 48);
  for (const char byte : valid) {
    const auto c = static_cast<unsigned char>(byte);
    if (c == '\n') {
      line += "\\n";
    } else if (c == '\t') {
      line += "\\t";
    } else if (c < 0x20 || c == 0x7f) {
      line += "\\x";
      line += kHex[c >> 4];
      line += kHex[c & 0x0f];
    } else {
      line += byte;
    }
  }
  if (request) line += " (request " + request->text() + ")";
  return line;
}

}  // namespace platform
