#include "entry/verification_harness.h"

#include <optional>

#include "entry/run_mode.h"
#include "exchange/constants.h"
#include "platform/core/file_operations.h"
#include "platform/core/uuid.h"

namespace entry {
namespace {

// selectionOf: every argument from index 4 on, whatever it looks like, as a file URL.
std::vector<platform::Url> selectionOf(const std::vector<std::string>& args) {
  std::vector<platform::Url> urls;
  for (std::size_t index = 4; index < args.size(); ++index) {
    urls.push_back(platform::Url::fromFilePath(fileLocation(args[index])));
  }
  return urls;
}

}  // namespace

std::shared_ptr<platform::Timer> runVerificationHarness(platform::Desktop& desktop,
                                                        platform::ServicesProvider& provider,
                                                        const std::filesystem::path& root,
                                                        const std::vector<std::string>& args,
                                                        const ProcessExit& processExit) {
  platform::Pasteboard& pasteboard =
      desktop.pasteboard(std::string(kPasteboardPrefix) + platform::Uuid::random().text());
  pasteboard.clearContents();
  pasteboard.writeURLs(selectionOf(args));

  std::optional<std::string> error;
  provider.convert(pasteboard, args.at(3), error);
  pasteboard.clearContents();
  if (error) {
    processExit.writeStandardError(*error + "\n");
    processExit.exit(1);
    return nullptr;
  }

  const platform::MonotonicTime deadline = desktop.now() + kSignDeadline;
  const std::filesystem::path sign = root / FinderConversion::names::kPackagedInbox;
  // The sign is tested before the deadline: a sign found late still counts as success.
  return desktop.scheduleRepeatingTimer(kHarnessInterval, [&desktop, sign, deadline, processExit] {
    if (platform::itemExists(sign)) {
      processExit.exit(0);
    } else if (desktop.now() > deadline) {
      processExit.writeStandardError(kTimeoutText);
      processExit.exit(2);
    }
  });
}

}  // namespace entry
