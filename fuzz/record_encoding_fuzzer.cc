// The writers' side of every record: records made of arbitrary field values (texts, bytes,
// locations, identifiers, numbers) encode to a document that decodes to an equal record, or,
// for a text that is not valid UTF-8, are refused with a JSON encoding error.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdio>
#include <string>

#include "exchange/records.h"
#include "fuzz/finding.h"
#include "lifetime/finder_provider_lifetime.h"

namespace {

using namespace FinderConversion;
using platform::Url;
using platform::Uuid;
using State = FinderProviderLifetime::State;

Uuid uuidFrom(FuzzedDataProvider& input) {
  std::string text;
  for (int i = 0; i < 16; ++i) {
    if (i == 4 || i == 6 || i == 8 || i == 10) text += '-';
    char hex[3];
    std::snprintf(hex, sizeof hex, "%02X", input.ConsumeIntegral<unsigned char>());
    text += hex;
  }
  return *Uuid::parse(text);
}

// urlFrom: a file URL of an arbitrary path, or an arbitrary text that parses as a URL.
Url urlFrom(FuzzedDataProvider& input) {
  std::string text = input.ConsumeRandomLengthString(64);
  if (input.ConsumeBool()) return Url::fromFilePath("/" + text);
  if (auto url = Url::parse(text)) return *url;
  return Url::fromFilePath("/" + text);
}

Bytes bytesFrom(FuzzedDataProvider& input) {
  return input.ConsumeBytes<std::uint8_t>(input.ConsumeIntegralInRange<std::size_t>(0, 48));
}

TextMap mapFrom(FuzzedDataProvider& input) {
  TextMap map;
  for (auto n = input.ConsumeIntegralInRange<int>(0, 4); n > 0; --n) {
    map[input.ConsumeRandomLengthString(16)] = input.ConsumeRandomLengthString(16);
  }
  return map;
}

Receipt receiptFrom(FuzzedDataProvider& input) {
  Receipt receipt{input.ConsumeIntegral<std::int64_t>(),
                  input.ConsumeRandomLengthString(16),
                  bytesFrom(input),
                  input.ConsumeRandomLengthString(16),
                  std::nullopt,
                  mapFrom(input)};
  if (input.ConsumeBool()) receipt.appPath = urlFrom(input);
  return receipt;
}

Request requestFrom(FuzzedDataProvider& input) {
  Request request{input.ConsumeIntegral<std::int64_t>(),
                  uuidFrom(input),
                  input.ConsumeRandomLengthString(8),
                  {}};
  for (auto n = input.ConsumeIntegralInRange<int>(0, 4); n > 0; --n) {
    Input entry{urlFrom(input), std::nullopt};
    if (input.ConsumeBool()) entry.bookmark = bytesFrom(input);
    request.inputs.push_back(std::move(entry));
  }
  return request;
}

Acknowledgement acknowledgementFrom(FuzzedDataProvider& input) {
  Acknowledgement answer;
  answer.id = uuidFrom(input);
  answer.accepted = input.ConsumeBool();
  answer.message = input.ConsumeRandomLengthString(32);
  for (auto n = input.ConsumeIntegralInRange<int>(0, 3); n > 0; --n) {
    answer.jobs.push_back(uuidFrom(input));
  }
  answer.terminal = input.ConsumeBool();
  answer.states = mapFrom(input);
  for (auto n = input.ConsumeIntegralInRange<int>(0, 3); n > 0; --n) {
    answer.outputs.push_back(urlFrom(input));
  }
  return answer;
}

State stateFrom(FuzzedDataProvider& input) {
  return State{input.ConsumeIntegral<std::int64_t>(), uuidFrom(input),
               input.ConsumeIntegral<std::int32_t>(), input.ConsumeRandomLengthString(16),
               input.ConsumeRandomLengthString(16),   input.ConsumeFloatingPoint<double>()};
}

bool same(const State& a, const State& b) {
  return a.version == b.version && a.instance == b.instance && a.pid == b.pid &&
         a.executableHash == b.executableHash && a.payloadVersion == b.payloadVersion &&
         a.updated == b.updated;
}

template <typename T, typename Same>
void checkEncoding(const T& value, Same same) {
  std::string document;
  try {
    document = encode(value);
  } catch (const platform::Error& error) {
    fuzz::requireDomain(error, platform::kJsonEncodingDomain,
                        "a refusal to encode that is not a JSON encoding error");
    return;
  }
  std::optional<T> back;
  try {
    back.emplace(decode<T>(document));
  } catch (const platform::Error& error) {
    fuzz::finding("an encoded record does not decode", document + " -- " + error.description());
  }
  fuzz::require(same(*back, value), "decode(encode(x)) differs from x", document);
}

template <typename T>
void checkEncoding(const T& value) {
  checkEncoding(value, [](const T& a, const T& b) { return a == b; });
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  switch (input.ConsumeIntegralInRange<int>(0, 4)) {
    case 0:
      checkEncoding(receiptFrom(input));
      break;
    case 1:
      checkEncoding(requestFrom(input));
      break;
    case 2:
      checkEncoding(acknowledgementFrom(input));
      break;
    case 3:
      checkEncoding(stateFrom(input), same);
      break;
    default: {
      const std::string text = input.ConsumeRemainingBytesAsString();
      checkEncoding(text);
      break;
    }
  }
  return 0;
}
