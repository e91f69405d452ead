#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>

namespace host_test {

// writeSilentWav writes a short, valid 16-bit mono PCM WAV file of silence.
inline void writeSilentWav(const std::filesystem::path& path, std::uint32_t samples = 4410) {
  std::ofstream out(path, std::ios::binary);
  auto put32 = [&](std::uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8) out.put(static_cast<char>((value >> shift) & 0xff));
  };
  auto put16 = [&](std::uint16_t value) {
    out.put(static_cast<char>(value & 0xff));
    out.put(static_cast<char>(value >> 8));
  };
  const std::uint32_t dataBytes = samples * 2;
  out << "RIFF";
  put32(36 + dataBytes);
  out << "WAVEfmt ";
  put32(16);
  put16(1);  // PCM
  put16(1);  // mono
  put32(44100);
  put32(44100 * 2);
  put16(2);
  put16(16);
  out << "data";
  put32(dataBytes);
  out << std::string(dataBytes, '\0');
}

}  // namespace host_test
