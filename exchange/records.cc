#include "exchange/records.h"

#include <algorithm>

namespace FinderConversion {

void validate(const Request& request) {
  const auto selection = [] { return failure(std::string(kSelectionSentence)); };
  if (request.version != protocolVersion) throw selection();
  if (std::find(formats.begin(), formats.end(), request.format) == formats.end()) {
    throw selection();
  }
  if (request.inputs.empty() || request.inputs.size() > kMaximumInputs) throw selection();
  for (const Input& input : request.inputs) {
    // A file location is absolute: "file:t.wav" names no file anyone could find.
    if (!input.url.filePath()) throw failure(std::string(kLocalitySentence));
  }
}

}  // namespace FinderConversion
