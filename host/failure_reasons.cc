#include "host/failure_reasons.h"

#include <array>
#include <system_error>

#include "platform/core/unicode.h"

namespace host {
namespace {

// ffmpeg's words (it runs in the C locale: its messages and strerror are English).
constexpr std::array kDiskFullSigns = {std::string_view("No space left on device"),
                                       std::string_view("Disk quota exceeded")};
constexpr std::array kCannotWriteSigns = {std::string_view("Read-only file system"),
                                          std::string_view("Permission denied"),
                                          std::string_view("Operation not permitted")};
constexpr std::array kNotAudioSigns = {std::string_view("Invalid data found when processing input"),
                                       std::string_view("does not contain any stream"),
                                       std::string_view("matches no streams")};
// What ffmpeg writes when it could not finish its output file, even with status 0.
constexpr std::array kUnfinishedOutputSigns = {std::string_view("Error writing trailer"),
                                               std::string_view("Error closing file")};

template <std::size_t N>
bool mentions(std::string_view text, const std::array<std::string_view, N>& signs) {
  for (const std::string_view sign : signs) {
    if (text.find(sign) != std::string_view::npos) return true;
  }
  return false;
}

// firstLine: the first line with something in it, its own names' prefix left out.
std::string_view firstLine(std::string_view text,
                           std::initializer_list<std::string_view> ownNames) {
  while (!text.empty()) {
    const std::size_t end = text.find_first_of("\r\n");
    std::string_view line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    for (const std::string_view name : ownNames) {
      if (!name.empty() && line.starts_with(name) && line.substr(name.size()).starts_with(": ")) {
        line.remove_prefix(name.size() + 2);
        break;
      }
    }
    if (line.find_first_not_of(" \t") != std::string_view::npos) return line;
  }
  return {};
}

// plainLine: `line` as valid UTF-8 without control characters, cut at a character boundary
// after at most kReasonLineLimit bytes.
std::string plainLine(std::string_view line) {
  std::string text = platform::validUtf8(line);
  for (char& c : text) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = ' ';
  }
  if (text.size() <= kReasonLineLimit) return text;
  std::size_t cut = kReasonLineLimit;
  while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
  return text.substr(0, cut) + "\u2026";
}

}  // namespace

std::optional<std::string> converterFailure(int status, std::string_view errors,
                                            std::initializer_list<std::string_view> ownNames) {
  if (mentions(errors, kDiskFullSigns)) return std::string(kDiskFullReason);
  if (status == 0) {
    if (!mentions(errors, kUnfinishedOutputSigns)) return std::nullopt;
  } else {
    if (mentions(errors, kCannotWriteSigns)) return std::string(kCannotWriteReason);
    if (mentions(errors, kNotAudioSigns)) return std::string(kNotAudioReason);
  }
  const std::string_view line = firstLine(errors, ownNames);
  if (!line.empty()) return "ffmpeg: " + plainLine(line);
  if (status >= 128)
    return "ffmpeg stopped unexpectedly (signal " + std::to_string(status - 128) + ")";
  return "ffmpeg failed (exit status " + std::to_string(status) + ")";
}

std::string creationFailure(int code) {
  const std::error_condition condition = std::generic_category().default_error_condition(code);
  if (condition == std::errc::permission_denied ||
      condition == std::errc::operation_not_permitted ||
      condition == std::errc::read_only_file_system) {
    return std::string(kCannotWriteReason);
  }
  if (condition == std::errc::no_space_on_device) return std::string(kDiskFullReason);
  return "the converted file cannot be created (" + std::generic_category().message(code) + ")";
}

}  // namespace host
