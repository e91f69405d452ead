// The Receipt reader: any bytes as a Receipt document, and the round trip of what decodes.
#include "exchange/records.h"
#include "fuzz/record_round_trip.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::checkRecordDocument<FinderConversion::Receipt>(fuzz::textOf(data, size));
  return 0;
}
