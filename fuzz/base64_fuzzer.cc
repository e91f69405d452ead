// Strict Base64, the form of every bytes field: each byte string has exactly one accepted text.
#include <vector>

#include "fuzz/finding.h"
#include "platform/core/base64.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::vector<std::uint8_t> bytes(data, data + size);
  const std::string text = platform::base64Encode(bytes);
  fuzz::require(platform::base64Decode(text) == bytes, "decode(encode(bytes)) differs", text);

  const std::string_view asText = fuzz::textOf(data, size);
  if (const auto decoded = platform::base64Decode(asText)) {
    fuzz::require(platform::base64Encode(*decoded) == asText,
                  "an accepted text is not the one encoding of its bytes", asText);
  }
  return 0;
}
