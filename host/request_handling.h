#pragma once

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "exchange/records.h"
#include "host/conversion.h"
#include "host/request_outcome.h"
#include "platform/core/files.h"

namespace host {

inline constexpr std::string_view kUnreadableRequestSentence =
    "Tonebrook could not read this conversion request.";
inline constexpr std::string_view kNoConverterSentence =
    "Tonebrook cannot convert on this computer because ffmpeg is not installed.";

// TakenRequest is a request file this host has taken out of the queue: its private location
// now ("requests/.taken-<pid>-<queue name>"), the name it had in the queue (the request's
// identifier and ".json") and, when the file could be opened for it, the flock this host holds
// on it for as long as it owns the request. A taken file nobody holds a lock on belongs to a
// host that is gone.
struct TakenRequest {
  std::filesystem::path location;
  std::string queueName;
  std::optional<platform::LockFile> ownership;
};

// takenName: the hidden name under which this process holds the request `queueName`.
std::string takenName(std::string_view queueName);

// AcceptedRequest is a request this host has accepted and is converting, one input at a time.
// Its taken file stays in "requests", locked, until the acknowledgement is terminal, so that a
// host started after this one dies can finish it.
struct AcceptedRequest {
  std::filesystem::path root;
  TakenRequest taken;
  std::string format;
  std::vector<std::filesystem::path> sources;
  FinderConversion::Acknowledgement acknowledgement;
  std::size_t next = 0;                    // the next source to convert, if its job is queued
  std::unique_ptr<Conversion> conversion;  // converting sources[next]
  std::vector<std::string> failures = {};  // per job: why it failed here ("" when it did not)
};

// answerRequest answers one taken request at once in "acknowledgements": refused with a sentence
// (FinderConversion::refuse, named after the request's identifier, for an unreadable request
// the one in its queue name) when it cannot be read, is invalid, names an input that cannot be
// read (or is not a regular file), or cannot be converted here; otherwise accepted under its
// queue name, with one queued job per input. Both names are the same for every request the
// provider queues. A refused request's file is removed once its answer is written; an
// accepted one stays taken (see AcceptedRequest). When the answer cannot be written the
// request is put back in the queue under its name and the writing error passes on. Returns the
// accepted request.
std::optional<AcceptedRequest> answerRequest(const std::filesystem::path& root, TakenRequest taken);

// advance moves `accepted` on without waiting: starts the next queued job's conversion, or
// polls the running one (stopped after `stallLimit` without progress) and, once it has ended,
// records the job's state ("done" or "failed") and output in the acknowledgement, and a failed
// job's reason beside it. After the last job the acknowledgement is terminal, the taken file is
// removed and `settled` hears the outcome (once, when the terminal acknowledgement is on disk).
// True when the request is finished. Failures to write the acknowledgement, and what `settled`
// throws, are logged, never thrown.
bool advance(AcceptedRequest& accepted, std::chrono::duration<double> stallLimit,
             const OutcomeHandler& settled = {});

// convertNext converts the next input of `accepted` to its end (advance until that job is
// recorded). True when the request is finished.
bool convertNext(AcceptedRequest& accepted,
                 std::chrono::duration<double> stallLimit = std::chrono::seconds(60));

// resumeAbandoned takes over the work of hosts that are gone: every taken file in "requests"
// that no process holds a lock on. Its request is put back in the queue when it was never
// answered; resumed (its queued jobs converted again) when its acknowledgement is accepted and
// not terminal; and removed when it was answered for good. An accepted, non-terminal
// acknowledgement whose request file is gone has its queued jobs marked failed and is made
// terminal; `settled` hears of each request settled that way (its file names are lost, the counts
// are not). Returns the resumed requests, now owned by this host.
std::vector<AcceptedRequest> resumeAbandoned(const std::filesystem::path& root,
                                             const OutcomeHandler& settled = {});

// outcomeOf: how `accepted` ended, as its acknowledgement and this host's reasons tell it.
RequestOutcome outcomeOf(const AcceptedRequest& accepted);

// unreadableInputSentence names the input that cannot be read; a name that is not valid UTF-8
// is shown with replacement characters.
std::string unreadableInputSentence(const std::filesystem::path& input);

}  // namespace host
