#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "exchange/records.h"
#include "host/request_handling.h"
#include "platform/core/directory.h"

// The steps on a taken request's files that answering, converting and taking over work share.
// The queue and answer folders are opened for each step without following a link in their
// place, and every file is reached by name inside them: nothing is read or written outside the
// state root through a planted link. Failures are logged where a step says so.
namespace host::steps {

// The states of a job in an acknowledgement: waiting to be converted, then converted or not.
inline constexpr std::string_view kJobQueued = "queued";
inline constexpr std::string_view kJobDone = "done";
inline constexpr std::string_view kJobFailed = "failed";

// kTakenPrefix starts the hidden name of a taken request: "<prefix><pid>-<queue name>".
inline constexpr std::string_view kTakenPrefix = ".taken-";

// labelOf: "request <identifier>", for log lines, as valid UTF-8.
std::string labelOf(std::string_view queueName);
// nameOf: the entry name of a file in its folder.
std::string nameOf(const std::filesystem::path& location);
// queueOf: the queue folder holding a taken file; throws the opening error.
platform::Directory queueOf(const TakenRequest& taken);

// writeAnswer writes `ack` as `queueName` in the answers, prepared first; throws.
void writeAnswer(const std::filesystem::path& root, std::string_view queueName,
                 const FinderConversion::Acknowledgement& ack);
// answerOf: the acknowledgement named `queueName`, when there is a readable one.
std::optional<FinderConversion::Acknowledgement> answerOf(const std::filesystem::path& root,
                                                          std::string_view queueName);
// requestOf: the request in a taken file, when it can be read.
std::optional<FinderConversion::Request> requestOf(const TakenRequest& taken);
// putBack returns a taken request to the queue under its own name; failures are logged.
void putBack(const TakenRequest& taken);
// discard removes a taken request file; failures are logged.
void discard(const TakenRequest& taken);

// isReadableFile: a regular file this host can open.
bool isReadableFile(const std::filesystem::path& path);
// sourceOf: the input's own location, or where its bookmark leads when nothing is there.
std::optional<std::filesystem::path> sourceOf(const FinderConversion::Input& input);

// stateOf: the state of job number `job` in `ack`.
std::string& stateOf(FinderConversion::Acknowledgement& ack, std::size_t job);
// skipFinished moves `next` past jobs that are no longer queued (done before a resume).
void skipFinished(AcceptedRequest& accepted);
// dropHiddenNames drops the hidden names of the recorded outputs of `sources`: once the
// acknowledgement names an output, nobody needs to find it through its hidden name.
void dropHiddenNames(const std::vector<std::filesystem::path>& sources, const std::string& format,
                     const FinderConversion::Acknowledgement& ack);
// tell passes a settled request's outcome on; what the handler throws is logged.
void tell(const OutcomeHandler& settled, const RequestOutcome& outcome, const std::string& label);

}  // namespace host::steps
