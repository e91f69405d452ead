#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "exchange/records.h"
#include "fuzz/finding.h"
#include "platform/core/error.h"

namespace fuzz {

// checkRecordDocument decodes `document` as a T the way a reader of the state root does. A
// refusal must be a JSON decoding error; an accepted record must encode (`encode`), decode
// again to an equal record (`same`), and encode again to the same document.
template <typename T, typename Encode, typename Same>
void checkRecordDocument(std::string_view document, Encode encode, Same same) {
  std::optional<T> value;
  try {
    value.emplace(FinderConversion::decode<T>(document));
  } catch (const platform::Error& error) {
    requireDomain(error, platform::kJsonDomain, "a refusal that is not a JSON decoding error");
    return;
  }
  std::string once;
  try {
    once = encode(*value);
  } catch (const platform::Error& error) {
    finding("a decoded record does not encode", error.description());
  }
  std::optional<T> again;
  try {
    again.emplace(FinderConversion::decode<T>(once));
  } catch (const platform::Error& error) {
    finding("encode(decode(bytes)) does not decode", once + " -- " + error.description());
  }
  require(same(*again, *value), "decode(encode(x)) differs from x", once);
  require(encode(*again) == once, "encoding twice gives two documents", once);
}

template <typename T>
void checkRecordDocument(std::string_view document) {
  checkRecordDocument<T>(
      document, [](const T& value) { return FinderConversion::encode(value); },
      [](const T& a, const T& b) { return a == b; });
}

}  // namespace fuzz
