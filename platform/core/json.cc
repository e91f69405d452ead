#include "platform/core/json.h"

#include <cmath>
#include <set>
#include <vector>

#include "platform/core/error.h"

namespace platform {
namespace {

std::string quoteName(std::string_view name) {
  return "\"" + std::string(name) + "\"";
}

// TooDeep ends a parse at the first container nested deeper than the limit.
struct TooDeep {};

// DuplicateFinder watches the parser's events and remembers the first member name that occurs
// twice in one object; it stops the parse at a container nested deeper than the limit.
class DuplicateFinder {
 public:
  bool operator()(int depth, Json::parse_event_t event, Json& parsed) {
    const bool opens =
        event == Json::parse_event_t::object_start || event == Json::parse_event_t::array_start;
    if (opens && depth >= static_cast<int>(kJsonDepthLimit)) throw TooDeep{};
    if (event == Json::parse_event_t::object_start) {
      names_.emplace_back();
    } else if (event == Json::parse_event_t::object_end) {
      names_.pop_back();
    } else if (event == Json::parse_event_t::key && !names_.empty()) {
      const auto& name = parsed.get_ref<const std::string&>();
      if (!names_.back().insert(name).second && !duplicate_) duplicate_ = name;
    }
    return true;
  }
  const std::optional<std::string>& duplicate() const { return duplicate_; }

 private:
  std::vector<std::set<std::string>> names_;
  std::optional<std::string> duplicate_;
};

// integralIn: `value` has no fraction and lies in [low, high).
bool integralIn(double value, double low, double high) {
  return std::trunc(value) == value && value >= low && value < high;
}

template <typename Document>
std::string encodeAny(const Document& value) {
  std::string compact;
  try {
    compact = value.dump(-1, ' ', false, Document::error_handler_t::strict);
  } catch (const typename Document::exception& error) {
    throw jsonEncodingError(std::string("A text is not valid UTF-8: ") + error.what());
  }
  // Outside strings a compact document never holds "/", so escaping every one is exact.
  std::string escaped;
  escaped.reserve(compact.size());
  for (const char c : compact) {
    if (c == '/') escaped += '\\';
    escaped += c;
  }
  return escaped;
}

}  // namespace

Json parseStrictJson(std::string_view document) {
  DuplicateFinder finder;
  Json value;
  try {
    value = Json::parse(document.begin(), document.end(),
                        [&finder](int depth, Json::parse_event_t event, Json& parsed) {
                          return finder(depth, event, parsed);
                        });
  } catch (const Json::exception& error) {
    throw jsonError(std::string("The data is not a valid JSON document: ") + error.what());
  } catch (const TooDeep&) {
    throw jsonError("The data nests deeper than " + std::to_string(kJsonDepthLimit) + " levels.");
  }
  if (finder.duplicate()) {
    throw jsonError("The member " + quoteName(*finder.duplicate()) +
                    " occurs more than once in one object.");
  }
  return value;
}

std::optional<std::int64_t> strictInteger(const Json& value) {
  if (value.is_number_unsigned()) {
    const auto unsignedValue = value.get<std::uint64_t>();
    if (unsignedValue <= static_cast<std::uint64_t>(INT64_MAX)) {
      return static_cast<std::int64_t>(unsignedValue);
    }
  } else if (value.is_number_integer()) {
    return value.get<std::int64_t>();
  } else if (value.is_number_float()) {
    // [-2^63, 2^63): every double in it converts exactly when it has no fraction.
    const double floating = value.get<double>();
    if (integralIn(floating, -9223372036854775808.0, 9223372036854775808.0)) {
      return static_cast<std::int64_t>(floating);
    }
  }
  return std::nullopt;
}

std::optional<std::uint64_t> strictUnsigned(const Json& value) {
  if (value.is_number_unsigned()) return value.get<std::uint64_t>();
  if (value.is_number_integer()) {
    const auto signedValue = value.get<std::int64_t>();
    if (signedValue >= 0) return static_cast<std::uint64_t>(signedValue);
  } else if (value.is_number_float()) {
    // [0, 2^64): every double in it converts exactly when it has no fraction.
    const double floating = value.get<double>();
    if (integralIn(floating, 0.0, 18446744073709551616.0)) {
      return static_cast<std::uint64_t>(floating);
    }
  }
  return std::nullopt;
}

std::string encodeJson(const Json& value) {
  return encodeAny(value);
}

std::string encodeJson(const OrderedJson& value) {
  return encodeAny(value);
}

}  // namespace platform
