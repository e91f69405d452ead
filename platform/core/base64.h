#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// base64Encode: the standard Base64 form of `bytes` (RFC 4648 alphabet, padded with "=" to a
// multiple of four, no line breaks).
std::string base64Encode(const std::vector<std::uint8_t>& bytes);

// base64Decode is strict: only the standard alphabet, a length that is a multiple of four,
// "=" only as the last one or two characters, no white space, and unused bits of the last
// group zero (so every byte sequence has exactly one accepted text). nullopt otherwise.
std::optional<std::vector<std::uint8_t>> base64Decode(std::string_view text);

}  // namespace platform
