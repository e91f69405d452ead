// The strict JSON reader every record, the protocol file and bookmark data go through: a
// refusal is a JSON decoding error, and what it accepts writes and reads back unchanged.
#include <string>

#include "fuzz/finding.h"
#include "platform/core/json.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  platform::Json value;
  try {
    value = platform::parseStrictJson(fuzz::textOf(data, size));
  } catch (const platform::Error& error) {
    fuzz::requireDomain(error, platform::kJsonDomain, "a refusal that is not a JSON error");
    return 0;
  }
  std::string once;
  try {
    once = platform::encodeJson(value);
  } catch (const platform::Error& error) {
    fuzz::finding("an accepted document does not encode", error.description());
  }
  platform::Json again;
  try {
    again = platform::parseStrictJson(once);
  } catch (const platform::Error& error) {
    fuzz::finding("an encoded document does not read back", once + " -- " + error.description());
  }
  fuzz::require(again == value, "a document reads back different", once);
  fuzz::require(platform::encodeJson(again) == once, "encoding twice gives two documents", once);
  return 0;
}
