#include "provider/confirmation.h"

#include <memory>
#include <optional>
#include <string>

#include "exchange/constants.h"
#include "exchange/record_files.h"
#include "exchange/records.h"

namespace provider {

void awaitAcknowledgement(platform::Desktop& desktop, const std::filesystem::path& root,
                          const platform::Uuid& requestID) {
  std::filesystem::path file =
      FinderConversion::acknowledgements(root) / FinderConversion::fileName(requestID);
  const platform::MonotonicTime deadline = desktop.now() + kAcknowledgementDeadline;
  // Wakes the wait as soon as an answer is renamed into place; the slices stay for a desktop
  // that cannot watch and for events the kernel drops.
  const std::unique_ptr<platform::EntryWatch> watch =
      desktop.watchForEntries(FinderConversion::acknowledgements(root));
  while (desktop.now() < deadline) {
    if (auto answer = FinderConversion::tryRead<FinderConversion::Acknowledgement>(file)) {
      if (answer->accepted) return;
      throw FinderConversion::failure(answer->message);
    }
    desktop.runUntil(desktop.now() + kPollSlice);
  }
  throw FinderConversion::failure(std::string(kUnconfirmedSentence));
}

}  // namespace provider
