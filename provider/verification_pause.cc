#include "provider/verification_pause.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <locale>
#include <sstream>
#include <string_view>

namespace provider {
namespace {

// isDecimalNumber: [+|-] digits [. digits] [(e|E) [+|-] digits], at least one digit before the
// exponent. Checked here, not left to the conversion, so that no library's extras (hexadecimal,
// "inf", a locale's decimal comma, white space) get in.
bool isDecimalNumber(std::string_view text) {
  std::size_t at = 0;
  const auto digits = [&] {
    const std::size_t start = at;
    while (at < text.size() && std::isdigit(static_cast<unsigned char>(text[at])) != 0) ++at;
    return at - start;
  };
  if (at < text.size() && (text[at] == '+' || text[at] == '-')) ++at;
  std::size_t mantissa = digits();
  if (at < text.size() && text[at] == '.') {
    ++at;
    mantissa += digits();
  }
  if (mantissa == 0) return false;
  if (at < text.size() && (text[at] == 'e' || text[at] == 'E')) {
    ++at;
    if (at < text.size() && (text[at] == '+' || text[at] == '-')) ++at;
    if (digits() == 0) return false;
  }
  return at == text.size();
}

// parseWholeNumber accepts a decimal or exponent floating-point text, optionally signed, with
// nothing before or after it (white space included). A value too small for a normal double is
// out of range, as it is for a correctly rounding parser that reports range errors.
std::optional<double> parseWholeNumber(std::string_view text) {
  if (!isDecimalNumber(text)) return std::nullopt;
  // The classic locale: the decimal point is "." whatever the process's locale says.
  std::istringstream stream{std::string(text)};
  stream.imbue(std::locale::classic());
  double value = 0;
  stream >> value;
  if (stream.fail() || std::fpclassify(value) == FP_SUBNORMAL) return std::nullopt;
  return value;
}

}  // namespace

std::optional<platform::Seconds> verificationPause(const std::vector<std::string>& arguments) {
  auto option = std::find(arguments.begin(), arguments.end(), kHoldCallbackOption);
  if (option == arguments.end() || std::next(option) == arguments.end()) return std::nullopt;
  std::optional<double> value = parseWholeNumber(*std::next(option));
  if (!value || !std::isfinite(*value) || *value <= 0 || *value > kLongestPause) {
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
