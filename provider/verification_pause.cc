#include "provider/verification_pause.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <string_view>
#include <system_error>

namespace provider {
namespace {

// parseWholeNumber accepts a decimal or exponent floating-point text, optionally signed, with
// nothing before or after it (white space included).
std::optional<double> parseWholeNumber(std::string_view text) {
  if (text.starts_with('+')) {
    text.remove_prefix(1);
    if (text.starts_with('-') || text.starts_with('+')) return std::nullopt;
  }
  if (text.empty()) return std::nullopt;
  double value = 0;
  const char* end = text.data() + text.size();
  auto [stop, error] = std::from_chars(text.data(), end, value);
  if (error != std::errc() || stop != end) return std::nullopt;
  return value;
}

}  // namespace

std::optional<platform::Seconds> verificationPause(const std::vector<std::string>& arguments) {
  auto option = std::find(arguments.begin(), arguments.end(), holdCallbackOption);
  if (option == arguments.end() || std::next(option) == arguments.end()) return std::nullopt;
  std::optional<double> value = parseWholeNumber(*std::next(option));
  if (!value || !std::isfinite(*value) || *value <= 0 || *value > longestPause) {
    return std::nullopt;
  }
  return platform::Seconds(*value);
}

void pauseForVerification(platform::Desktop& desktop) {
  if (std::optional<platform::Seconds> pause = verificationPause(desktop.arguments())) {
    desktop.runUntil(desktop.now() + *pause);
  }
}

}  // namespace provider
