// "provider-retire.json" as the provider reads it five times a second: the quick test of its
// shape must never hide a request the strict decoder would find, and the request an installer
// writes must always be found.
#include <cstdio>
#include <optional>
#include <string>

#include "exchange/records.h"
#include "fuzz/finding.h"
#include "lifetime/finder_provider_lifetime.h"

namespace {

using platform::Uuid;

std::optional<Uuid> strictlyDecoded(std::string_view document) {
  try {
    return FinderConversion::decode<Uuid>(document);
  } catch (const platform::Error&) {
    return std::nullopt;
  }
}

// uuidFrom: the identifier whose sixteen bytes lead `bytes` (zeros past the end).
Uuid uuidFrom(std::string_view bytes) {
  std::string text;
  for (std::size_t i = 0; i < 16; ++i) {
    if (i == 4 || i == 6 || i == 8 || i == 10) text += '-';
    char hex[3];
    std::snprintf(hex, sizeof hex, "%02x",
                  i < bytes.size() ? static_cast<unsigned char>(bytes[i]) : 0u);
    text += hex;
  }
  return *Uuid::parse(text);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view document = fuzz::textOf(data, size);
  const std::optional<Uuid> target = FinderProviderLifetime::retirementTarget(document);
  if (target) {
    fuzz::require(strictlyDecoded(document) == target,
                  "the retirement reader names an instance the strict decoder does not", document);
  }

  const Uuid written = uuidFrom(document);
  const std::string request = FinderConversion::encode(written.text());
  fuzz::require(FinderProviderLifetime::retirementTarget(request) == written,
                "a retirement request as the installer writes it is not recognised", request);
  return 0;
}
