#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/desktop/desktop.h"

namespace entry {

inline constexpr std::string_view kPasteboardPrefix = "Tonebrook.FinderVerification.";
inline constexpr platform::Seconds kSignDeadline{70.0};
inline constexpr platform::Seconds kHarnessInterval{0.1};
inline constexpr std::string_view kTimeoutText = "Packaged provider timed out.\n";

// ProcessExit is how the harness ends the process (immediately, provider untouched) and writes
// standard error; main passes the real ones, tests record the calls.
struct ProcessExit {
  std::function<void(std::string_view)> writeStandardError;
  std::function<void(int status)> exit;
};

// runVerificationHarness tests an installed provider once: the files of args 4.. on a new
// private pasteboard, one direct convert with args 3 as user data, the pasteboard cleared.
// A failure ends the process with status 1 and its sentence. Otherwise it schedules the
// 0.1-second harness timer, which ends the process with status 0 once "packaged-inbox.json"
// exists in `root`, or with status 2 and kTimeoutText at the first tick more than 70 s after
// the entry returned. The timer is returned: the caller keeps it while the run loop runs.
std::shared_ptr<platform::Timer> runVerificationHarness(platform::Desktop& desktop,
                                                        platform::ServicesProvider& provider,
                                                        const std::filesystem::path& root,
                                                        const std::vector<std::string>& args,
                                                        const ProcessExit& processExit);

}  // namespace entry
