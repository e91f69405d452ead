#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace platform {

// sha256Hex: the SHA-256 of `bytes` as 64 lower-case hexadecimal characters.
std::string sha256Hex(std::string_view bytes);

// sha256HexOfFile: the same over a file's contents, read in bounded chunks so that memory
// stays flat for a large file. Throws errnoError when the file cannot be opened or read.
std::string sha256HexOfFile(const std::filesystem::path& path);

}  // namespace platform
