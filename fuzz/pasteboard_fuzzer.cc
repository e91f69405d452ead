// A Convert call's pasteboard as the provider's bus service reads it, then as the provider makes
// a selection of it: the bytes are a program that builds a real sealed D-Bus message (see
// platform/testing/convert_call_program.h).
#include <span>
#include <string>

#include "exchange/constants.h"
#include "exchange/records.h"
#include "fuzz/finding.h"
#include "platform/testing/convert_call_program.h"
#include "provider/selection.h"

namespace {

bool isOneOf(std::string_view sentence, std::initializer_list<std::string_view> sentences) {
  for (const std::string_view known : sentences) {
    if (sentence == known) return true;
  }
  return false;
}

// checkSelection: the selection is refused with one of its sentences, or is at most the files
// one request may hold, each a file URL, and validate then refuses only for locality.
void checkSelection(const platform::Pasteboard& pasteboard) {
  std::vector<platform::Url> selection;
  try {
    selection = provider::readSelection(pasteboard);
  } catch (const platform::Error& error) {
    fuzz::require(isOneOf(error.description(), {provider::kChooseLocalFilesSentence,
                                                FinderConversion::kSelectionSentence}),
                  "readSelection refuses with another error", error.description());
    return;
  }
  fuzz::require(selection.size() <= FinderConversion::kMaximumInputs,
                "a selection longer than a request may hold");
  FinderConversion::Request request;
  request.format = "wav";
  for (const platform::Url& url : selection) {
    fuzz::require(url.scheme() == "file", "a selected location that is not a file URL", url.text());
    request.inputs.push_back(FinderConversion::Input{url, std::nullopt});
  }
  try {
    FinderConversion::validate(request);
  } catch (const platform::Error& error) {
    fuzz::require(isOneOf(error.description(), {FinderConversion::kLocalitySentence,
                                                FinderConversion::kSelectionSentence}),
                  "validate refuses a selection with another error", error.description());
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto reading = platform::testing::readConvertCallProgram(std::span(data, size));
  if (!reading || reading->result < 0) return 0;  // refused on the bus, never reaches convert
  const platform::Pasteboard& pasteboard = reading->pasteboard;
  const auto urls = pasteboard.readFileURLs();
  const auto count = pasteboard.fileURLCount();
  fuzz::require(urls.has_value() == count.has_value() && (!urls || urls->size() == *count),
                "fileURLCount disagrees with readFileURLs");
  checkSelection(pasteboard);
  return 0;
}
