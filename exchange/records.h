#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "exchange/constants.h"
#include "platform/core/url.h"
#include "platform/core/uuid.h"

namespace FinderConversion {

using platform::Url;
using platform::Uuid;
using Bytes = std::vector<std::uint8_t>;
using TextMap = std::map<std::string, std::string>;

// The most files one request may hold.
inline constexpr std::size_t kMaximumInputs = 16;

// The sentences of validate.
inline constexpr std::string_view kSelectionSentence =
    "Choose 1\u2013"
    "16 audio files and WAV, MP3, AAC/M4A, FLAC or OGG Vorbis.";
inline constexpr std::string_view kLocalitySentence = "Only local files are supported.";

struct Receipt {
  std::int64_t version = 1;
  std::string payloadVersion;
  Bytes appBookmark;
  std::string appBundleID;
  std::optional<Url> appPath;
  TextMap files;

  bool operator==(const Receipt&) const = default;
};

struct Input {
  Url url;
  std::optional<Bytes> bookmark;

  bool operator==(const Input&) const = default;
};

struct Request {
  std::int64_t version = 1;
  Uuid id = Uuid::random();
  std::string format;
  std::vector<Input> inputs;

  bool operator==(const Request&) const = default;
};

struct Acknowledgement {
  Uuid id;
  bool accepted = false;
  std::string message;
  std::vector<Uuid> jobs;
  bool terminal = false;
  TextMap states;
  std::vector<Url> outputs;

  bool operator==(const Acknowledgement&) const = default;
};

// encode gives the compact JSON document of a record ("/" escaped as "\/", non-ASCII as UTF-8,
// absent optionals left out). Plain text encodes as one JSON string. A text that is not valid
// UTF-8 has no JSON form: throws platform::jsonEncodingError rather than alter the text.
std::string encode(const Receipt& value);
std::string encode(const Input& value);
std::string encode(const Request& value);
std::string encode(const Acknowledgement& value);
std::string encode(std::string_view text);

// decode<T> reads one JSON document as T; throws a JSON decoding error (platform::jsonError)
// for a missing member, a wrong JSON form, an invalid identifier, location or Base64 text, or a
// document that is not JSON (invalid UTF-8 or a member name twice in one object included).
// Unknown members are ignored; null reads as absent for an optional member.
template <typename T>
T decode(std::string_view document);
template <>
Receipt decode<Receipt>(std::string_view document);
template <>
Input decode<Input>(std::string_view document);
template <>
Request decode<Request>(std::string_view document);
template <>
Acknowledgement decode<Acknowledgement>(std::string_view document);
template <>
std::string decode<std::string>(std::string_view document);  // one JSON string
template <>
Uuid decode<Uuid>(std::string_view document);  // one JSON string holding a UUID

// validate admits a request to the queue or throws failure(kSelectionSentence) /
// failure(kLocalitySentence), testing version, format, count, then each input's locality.
void validate(const Request& request);

}  // namespace FinderConversion
