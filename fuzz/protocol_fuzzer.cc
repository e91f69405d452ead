// The bound host's "protocol.json" as the provider checks it: any bytes, and the same answer for
// the document as the system would write it.
#include "exchange/constants.h"
#include "fuzz/finding.h"
#include "platform/core/json.h"
#include "provider/installation_checks.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view document = fuzz::textOf(data, size);
  const bool speaks = provider::speaksProtocol(document);
  platform::Json value;
  try {
    value = platform::parseStrictJson(document);
  } catch (const platform::Error&) {
    fuzz::require(!speaks, "a document the strict reader refuses speaks the protocol", document);
    return 0;
  }
  if (speaks) {
    const auto version = value.find("version");
    fuzz::require(value.is_object() && version != value.end() &&
                      platform::strictInteger(*version) == FinderConversion::protocolVersion,
                  "a document without version 1 speaks the protocol", document);
  }
  fuzz::require(provider::speaksProtocol(platform::encodeJson(value)) == speaks,
                "the same document written compactly gets another answer", document);
  return 0;
}
