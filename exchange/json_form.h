#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "exchange/records.h"
#include "platform/core/json.h"

// The one JSON form of every file the system writes, and strict readers for it. Every reading
// failure is a platform::jsonError naming the member. Parsing, integer rules and encoding are
// platform/core/json's; this adds the members and the record-level kinds.
namespace FinderConversion::json_form {

using Json = platform::Json;
using OrderedJson = platform::OrderedJson;

// parseDocument reads exactly one JSON document by platform::parseStrictJson. Refused: text
// that is not JSON, strings that are not valid UTF-8, and an object with two members of the
// same name (readers that keep the first and readers that keep the last would otherwise see
// different records).
Json parseDocument(std::string_view document);

// dumpDocument writes `value` compactly, "/" as "\/" inside strings, non-ASCII as plain UTF-8
// (platform::encodeJson). An OrderedJson keeps its members in insertion order, a Json in name
// order. A text that is not valid UTF-8 has no JSON form: throws platform::jsonEncodingError.
std::string dumpDocument(const Json& value);
std::string dumpDocument(const OrderedJson& value);

// object: `value` itself when it is a JSON object, else a decoding error naming `what`.
const Json& object(const Json& value, std::string_view what);

// optionalMember: the member `name`, or nullptr when it is missing or null (absent).
const Json* optionalMember(const Json& object, std::string_view name);
// requiredMember: the member `name`; missing or null is a decoding error.
const Json& requiredMember(const Json& object, std::string_view name);

// Typed readers of one value; `name` only labels the error. An integer accepts a JSON number
// without fraction in range; a number written with a zero fraction (1.0, 1e0) reads as that
// integer too, while 1.5 or a value out of range fails.
std::int64_t integer(const Json& value, std::string_view name);
bool boolean(const Json& value, std::string_view name);
double number(const Json& value, std::string_view name);
std::string text(const Json& value, std::string_view name);
Bytes bytes(const Json& value, std::string_view name);
Url location(const Json& value, std::string_view name);
Uuid identifier(const Json& value, std::string_view name);
TextMap textMap(const Json& value, std::string_view name);
const Json& array(const Json& value, std::string_view name);

// Writers of the forms that are not plain JSON values.
Json bytesValue(const Bytes& value);

}  // namespace FinderConversion::json_form
