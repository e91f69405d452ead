#pragma once

#include <cstddef>
#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>

// The one strict JSON reader and the one JSON writer of the system: every record, the host's
// protocol file and bookmark data go through them.
namespace platform {

using Json = nlohmann::json;
// OrderedJson keeps members in insertion order, for documents whose member order is fixed.
using OrderedJson = nlohmann::ordered_json;

// No document of the system nests deeper than a few levels; deeper ones are refused before they
// cost a parse.
inline constexpr std::size_t kJsonDepthLimit = 16;

// parseStrictJson reads exactly one JSON document. Refused with a jsonError: text that is not
// JSON, strings that are not valid UTF-8, an object with two members of the same name at any
// depth (readers that keep the first and readers that keep the last would otherwise see
// different documents), and containers nested more than kJsonDepthLimit deep (the parse stops
// there).
Json parseStrictJson(std::string_view document);

// strictInteger: the value of a JSON number without fraction in the 64-bit range; a number
// written with a zero fraction (1.0, 1e0) counts as that integer. nullopt for 1.5, a value out
// of range and anything that is not a number (booleans included).
std::optional<std::int64_t> strictInteger(const Json& value);
// strictUnsigned: the same rules for the unsigned 64-bit range (device and inode numbers).
std::optional<std::uint64_t> strictUnsigned(const Json& value);

// encodeJson writes `value` compactly, "/" as "\/" inside strings, non-ASCII as plain UTF-8,
// members in the value's own order. A text that is not valid UTF-8 has no JSON form: throws
// jsonEncodingError.
std::string encodeJson(const Json& value);
std::string encodeJson(const OrderedJson& value);

}  // namespace platform
