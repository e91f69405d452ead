#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "platform/desktop/pasteboard.h"

namespace platform::testing {

// A Convert call program is a byte string that describes the arguments of one
// Convert(a{sv} pasteboard, s userData) call, so that a fuzzer can reach every shape of
// pasteboard a caller could send. Read in order; running out of bytes ends the program (open
// containers are closed), so every byte string is a program.
//
//   program := text(userData) entry*            at most kMaximumProgramEntries entries in all
//   entry   := op [text(key) when op & 3 == 3] value
//     key:    op & 3: 0 "public.file-url", 1 "NSFilenamesPboardType",
//             2 "public.utf8-plain-text", 3 a text of its own
//     value:  (op >> 2) & 7: 0 as (count byte, then that many texts), 1 s (text),
//             2 i (4 bytes, little-endian), 3 a{sv} (count byte, then that many entries;
//             empty below kMaximumProgramDepth), 4 v holding as (as in 0),
//             5 ay (a text's bytes), 6 b (one byte, odd is true), 7 as with no entries
//   text    := length byte, then that many bytes (fewer at the end), made valid UTF-8 and cut
//              at a NUL byte, as a D-Bus string must be
inline constexpr int kMaximumProgramEntries = 64;
inline constexpr int kMaximumProgramDepth = 3;

// ConvertCallReading is what the Convert handler's reading made of the call.
struct ConvertCallReading {
  int result = 0;         // readConvertCall's: >= 0 read, else a negative errno
  std::string errorName;  // the D-Bus error it set, if any
  InProcessPasteboard pasteboard;
  std::string userData;
};

// readConvertCallProgram builds the call that `program` describes as a sealed D-Bus message (on
// an unconnected bus object of its own), rewinds it and reads it with readConvertCall, as the
// provider's bus service does. nullopt when sd-bus refuses to build the message.
std::optional<ConvertCallReading> readConvertCallProgram(std::span<const std::uint8_t> program);

}  // namespace platform::testing
