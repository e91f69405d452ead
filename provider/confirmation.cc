#include "provider/confirmation.h"

#include <memory>
#include <optional>
#include <string>

#include "exchange/constants.h"
#include "exchange/record_files.h"
#include "exchange/records.h"

namespace provider {
namespace {

std::optional<platform::Directory> openAnswers(const std::filesystem::path& root) {
  try {
    return FinderConversion::existingStateDirectory(root,
                                                    FinderConversion::names::kAcknowledgements);
  } catch (const platform::Error&) {
    return std::nullopt;  // a link in its place: no answer can be read from there
  }
}

}  // namespace

void awaitAcknowledgement(platform::Desktop& desktop, const std::filesystem::path& root,
                          const platform::Uuid& requestID) {
  const std::string name = FinderConversion::fileName(requestID);
  const platform::MonotonicTime deadline = desktop.now() + kAcknowledgementDeadline;
  // Wakes the wait as soon as an answer is renamed into place; the slices stay for a desktop
  // that cannot watch and for events the kernel drops.
  const std::unique_ptr<platform::EntryWatch> watch =
      desktop.watchForEntries(FinderConversion::acknowledgements(root));
  // Read through the directory the enqueue prepared, never through a link put in its place.
  std::optional<platform::Directory> answers;
  while (desktop.now() < deadline) {
    if (!answers) answers = openAnswers(root);
    std::optional<FinderConversion::Acknowledgement> answer;
    if (answers) {
      answer = FinderConversion::tryRead<FinderConversion::Acknowledgement>(*answers, name);
    }
    if (answer) {
      if (answer->accepted) return;
      throw FinderConversion::failure(answer->message);
    }
    desktop.runUntil(desktop.now() + kPollSlice);
  }
  throw FinderConversion::failure(std::string(kUnconfirmedSentence));
}

}  // namespace provider
