#include "exchange/json_form.h"

#include <cmath>
#include <set>
#include <vector>

#include "platform/core/base64.h"
#include "platform/core/error.h"

namespace FinderConversion::jsonForm {
namespace {

std::string quoteName(std::string_view name) {
  return "\"" + std::string(name) + "\"";
}

platform::Error wrongForm(std::string_view name, std::string_view expected) {
  return platform::jsonError("The member " + quoteName(name) + " is not " + std::string(expected) +
                             ".");
}

// DuplicateFinder watches the parser's events and remembers the first member name that occurs
// twice in one object.
class DuplicateFinder {
 public:
  bool operator()(int /*depth*/, Json::parse_event_t event, Json& parsed) {
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

}  // namespace

Json parseDocument(std::string_view document) {
  DuplicateFinder finder;
  Json value;
  try {
    value = Json::parse(document.begin(), document.end(),
                        [&finder](int depth, Json::parse_event_t event, Json& parsed) {
                          return finder(depth, event, parsed);
                        });
  } catch (const Json::exception& error) {
    throw platform::jsonError(std::string("The data is not a valid JSON document: ") +
                              error.what());
  }
  if (finder.duplicate()) {
    throw platform::jsonError("The member " + quoteName(*finder.duplicate()) +
                              " occurs more than once in one object.");
  }
  return value;
}

std::string dumpDocument(const Json& value) {
  std::string compact;
  try {
    compact = value.dump(-1, ' ', false, Json::error_handler_t::strict);
  } catch (const Json::exception& error) {
    throw platform::jsonEncodingError(std::string("A text is not valid UTF-8: ") + error.what());
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

const Json& object(const Json& value, std::string_view what) {
  if (!value.is_object()) throw wrongForm(what, "a JSON object");
  return value;
}

const Json* optionalMember(const Json& object, std::string_view name) {
  const auto found = object.find(name);
  if (found == object.end() || found->is_null()) return nullptr;
  return &*found;
}

const Json& requiredMember(const Json& object, std::string_view name) {
  const auto found = object.find(name);
  if (found == object.end()) {
    throw platform::jsonError("The member " + quoteName(name) + " is missing.");
  }
  if (found->is_null()) throw wrongForm(name, "present (it is null)");
  return *found;
}

std::int64_t integer(const Json& value, std::string_view name) {
  if (value.is_number_integer() && !value.is_number_unsigned()) {
    return value.get<std::int64_t>();
  }
  if (value.is_number_unsigned()) {
    const auto unsignedValue = value.get<std::uint64_t>();
    if (unsignedValue <= static_cast<std::uint64_t>(INT64_MAX)) {
      return static_cast<std::int64_t>(unsignedValue);
    }
  } else if (value.is_number_float()) {
    const double floating = value.get<double>();
    // [-2^63, 2^63): every double in it converts exactly when it has no fraction.
    if (std::trunc(floating) == floating && floating >= -9223372036854775808.0 &&
        floating < 9223372036854775808.0) {
      return static_cast<std::int64_t>(floating);
    }
  }
  throw wrongForm(name, "an integer in range");
}

bool boolean(const Json& value, std::string_view name) {
  if (!value.is_boolean()) throw wrongForm(name, "true or false");
  return value.get<bool>();
}

double number(const Json& value, std::string_view name) {
  if (!value.is_number()) throw wrongForm(name, "a number");
  return value.get<double>();
}

std::string text(const Json& value, std::string_view name) {
  if (!value.is_string()) throw wrongForm(name, "a string");
  return value.get<std::string>();
}

Bytes bytes(const Json& value, std::string_view name) {
  std::optional<Bytes> decoded = platform::base64Decode(text(value, name));
  if (!decoded) throw wrongForm(name, "valid Base64");
  return std::move(*decoded);
}

Url location(const Json& value, std::string_view name) {
  std::optional<Url> url = Url::parse(text(value, name));
  if (!url) throw wrongForm(name, "a valid absolute URL");
  return std::move(*url);
}

Uuid identifier(const Json& value, std::string_view name) {
  const std::optional<Uuid> id = Uuid::parse(text(value, name));
  if (!id) throw wrongForm(name, "a valid UUID");
  return *id;
}

TextMap textMap(const Json& value, std::string_view name) {
  if (!value.is_object()) throw wrongForm(name, "a JSON object");
  TextMap map;
  for (const auto& [key, entry] : value.items()) map.emplace(key, text(entry, key));
  return map;
}

const Json& array(const Json& value, std::string_view name) {
  if (!value.is_array()) throw wrongForm(name, "a JSON array");
  return value;
}

Json bytesValue(const Bytes& value) {
  return platform::base64Encode(value);
}

}  // namespace FinderConversion::jsonForm
