// The provider's heartbeat record as the installer reads it: any bytes as a State document, and
// the round trip of what decodes.
#include "fuzz/record_round_trip.h"
#include "lifetime/finder_provider_lifetime.h"

namespace {

using State = FinderProviderLifetime::State;

bool same(const State& a, const State& b) {
  return a.version == b.version && a.instance == b.instance && a.pid == b.pid &&
         a.executableHash == b.executableHash && a.payloadVersion == b.payloadVersion &&
         a.updated == b.updated;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::checkRecordDocument<State>(
      fuzz::textOf(data, size), [](const State& value) { return FinderConversion::encode(value); },
      same);
  return 0;
}
