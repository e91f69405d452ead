#include "exchange/json_form.h"

#include <optional>

#include "platform/core/base64.h"
#include "platform/core/error.h"

namespace FinderConversion::json_form {
namespace {

std::string quoteName(std::string_view name) {
  return "\"" + std::string(name) + "\"";
}

platform::Error wrongForm(std::string_view name, std::string_view expected) {
  return platform::jsonError("The member " + quoteName(name) + " is not " + std::string(expected) +
                             ".");
}

}  // namespace

Json parseDocument(std::string_view document) {
  return platform::parseStrictJson(document);
}

std::string dumpDocument(const Json& value) {
  return platform::encodeJson(value);
}

std::string dumpDocument(const OrderedJson& value) {
  return platform::encodeJson(value);
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
  if (std::optional<std::int64_t> integral = platform::strictInteger(value)) return *integral;
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

}  // namespace FinderConversion::json_form
