#include "platform/core/base64.h"

#include <openssl/evp.h>

#include <algorithm>
#include <array>

namespace platform {
namespace {

// EVP_EncodeBlock takes an int length; chunks that are a multiple of 3 encode independently.
constexpr std::size_t kEncodeChunk = 3 * 1024 * 1024;

constexpr std::array<std::int8_t, 256> makeDecodeTable() {
  std::array<std::int8_t, 256> table{};
  table.fill(-1);
  constexpr std::string_view kAlphabet =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  for (std::size_t i = 0; i < kAlphabet.size(); ++i) {
    table[static_cast<unsigned char>(kAlphabet[i])] = static_cast<std::int8_t>(i);
  }
  return table;
}
constexpr auto kDecodeTable = makeDecodeTable();

int sextet(char c) {
  return kDecodeTable[static_cast<unsigned char>(c)];
}

}  // namespace

std::string base64Encode(const std::vector<std::uint8_t>& bytes) {
  std::string text;
  text.reserve((bytes.size() + 2) / 3 * 4);
  for (std::size_t offset = 0; offset < bytes.size(); offset += kEncodeChunk) {
    const std::size_t size = std::min(kEncodeChunk, bytes.size() - offset);
    std::string block((size + 2) / 3 * 4 + 1, '\0');
    const int written = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(block.data()),
                                        bytes.data() + offset, static_cast<int>(size));
    text.append(block.data(), static_cast<std::size_t>(written));
  }
  return text;
}

std::optional<std::vector<std::uint8_t>> base64Decode(std::string_view text) {
  if (text.size() % 4 != 0) return std::nullopt;
  std::size_t padding = 0;
  if (!text.empty() && text.back() == '=') padding = text[text.size() - 2] == '=' ? 2 : 1;
  std::vector<std::uint8_t> bytes;
  bytes.reserve(text.size() / 4 * 3);
  for (std::size_t group = 0; group < text.size(); group += 4) {
    const bool last = group + 4 == text.size();
    const std::size_t digits = last ? 4 - padding : 4;
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < 4; ++i) {
      const int bits = i < digits ? sextet(text[group + i]) : 0;
      if (bits < 0) return std::nullopt;  // outside the kAlphabet, or "=" before the end
      value = (value << 6) | static_cast<std::uint32_t>(bits);
    }
    const std::size_t produced = digits - 1;  // 4 digits: 3 bytes, 3: 2, 2: 1
    if (produced < 3 && (value & ((1u << (8 * (3 - produced))) - 1)) != 0) return std::nullopt;
    for (std::size_t i = 0; i < produced; ++i) {
      bytes.push_back(static_cast<std::uint8_t>(value >> (16 - 8 * i)));
    }
  }
  return bytes;
}

}  // namespace platform
