#include "host/request_handling.h"

#include <algorithm>
#include <optional>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "exchange/record_files.h"
#include "exchange/records.h"
#include "host/conversion.h"
#include "host/failure_reasons.h"
#include "host/log.h"
#include "host/request_steps.h"
#include "platform/core/file_operations.h"
#include "platform/core/unicode.h"

namespace host {
namespace {

namespace fs = std::filesystem;
using FinderConversion::Acknowledgement;
using FinderConversion::Input;
using FinderConversion::Request;

using namespace steps;

// sourcesOf resolves every input or names the first that cannot be read.
std::vector<fs::path> sourcesOf(const Request& request, std::string& refusal) {
  std::vector<fs::path> sources;
  for (const Input& input : request.inputs) {
    std::optional<fs::path> source = sourceOf(input);
    if (!source || !isReadableFile(*source)) {
      refusal = unreadableInputSentence(source ? *source : fs::path(input.url.text()));
      return {};
    }
    sources.push_back(*source);
  }
  return sources;
}

// record settles the current job: done with its output, or failed for `reason`.
void record(AcceptedRequest& accepted, const std::optional<fs::path>& output,
            std::string reason = {}) {
  Acknowledgement& ack = accepted.acknowledgement;
  stateOf(ack, accepted.next) = output ? kJobDone : kJobFailed;
  if (output) ack.outputs.push_back(platform::Url::fromFilePath(*output));
  if (!output) {
    accepted.failures.resize(accepted.sources.size());
    accepted.failures[accepted.next] = std::move(reason);
  }
  accepted.conversion.reset();
  ++accepted.next;
  skipFinished(accepted);
}

// update writes the acknowledgement as it stands; true when it was written.
bool update(const AcceptedRequest& accepted) {
  try {
    writeAnswer(accepted.root, accepted.taken.queueName, accepted.acknowledgement);
    dropHiddenNames(accepted.sources, accepted.format, accepted.acknowledgement);
    return true;
  } catch (const std::exception& error) {
    logEvent(labelOf(accepted.taken.queueName) + ": acknowledgement not updated: " + error.what());
    return false;
  }
}

// finishStep records where `accepted` stands after a step: terminal once no job is left, and
// then its taken file goes and its outcome is told. True when the request is finished.
bool finishStep(AcceptedRequest& accepted, const OutcomeHandler& settled,
                const std::string& label) {
  Acknowledgement& ack = accepted.acknowledgement;
  ack.terminal = accepted.next >= accepted.sources.size();
  if (update(accepted) && ack.terminal) {
    discard(accepted.taken);
    accepted.taken.ownership.reset();
    tell(settled, outcomeOf(accepted), label);
  }
  return ack.terminal;
}

}  // namespace

std::string takenName(std::string_view queueName) {
  return std::string(kTakenPrefix) + std::to_string(platform::processId()) + "-" +
         std::string(queueName);
}

std::string unreadableInputSentence(const fs::path& input) {
  return "Tonebrook cannot read \u201c" + platform::validUtf8(input.filename().string()) +
         "\u201d.";
}

std::optional<AcceptedRequest> answerRequest(const fs::path& root, TakenRequest taken) {
  // Held under this process's own name and lock, whoever took it.
  try {
    platform::Directory queue = queueOf(taken);
    if (!taken.ownership) taken.ownership = queue.lockExisting(nameOf(taken.location));
    if (taken.ownership && !taken.ownership->tryLockExclusive()) taken.ownership.reset();
    const std::string mine = takenName(taken.queueName);
    if (nameOf(taken.location) != mine &&
        queue.renameWithoutReplacing(nameOf(taken.location), mine)) {
      taken.location = queue.path() / mine;
    }
  } catch (const std::exception& error) {
    logEvent(labelOf(taken.queueName) + ": not held under this host's name: " + error.what());
  }
  try {
    std::optional<Request> request = requestOf(taken);
    if (!request) {
      std::string stem = fs::path(taken.queueName).stem().string();
      if (std::optional<platform::Uuid> id = platform::Uuid::parse(stem)) {
        FinderConversion::refuse(root, *id, std::string(kUnreadableRequestSentence));
      } else {
        // Without an identifier there is nobody to answer.
        logEvent(labelOf(taken.queueName) + ": unreadable and unnamed; removed");
      }
      discard(taken);
      return std::nullopt;
    }
    std::string refusal;
    try {
      FinderConversion::validate(*request);
    } catch (const platform::Error& error) {
      refusal = error.description();
    }
    std::vector<fs::path> sources;
    if (refusal.empty()) sources = sourcesOf(*request, refusal);
    if (refusal.empty() && !ffmpegAvailable()) refusal = kNoConverterSentence;
    if (!refusal.empty()) {
      FinderConversion::refuse(root, request->id, refusal);
      discard(taken);
      return std::nullopt;
    }
    Acknowledgement ack;
    ack.id = request->id;
    ack.accepted = true;
    for (std::size_t index = 0; index < sources.size(); ++index) {
      ack.jobs.push_back(platform::Uuid::random());
      ack.states[ack.jobs.back().text()] = kJobQueued;
    }
    writeAnswer(root, taken.queueName, ack);  // the provider waits for this first answer
    return AcceptedRequest{
        root, std::move(taken), request->format, std::move(sources), std::move(ack), 0, nullptr,
        {}};
  } catch (...) {
    // The request leaves the queue only once its answer is on disk.
    putBack(taken);
    throw;
  }
}

bool advance(AcceptedRequest& accepted, std::chrono::duration<double> stallLimit,
             const OutcomeHandler& settled) {
  Acknowledgement& ack = accepted.acknowledgement;
  const std::string label = labelOf(accepted.taken.queueName);
  skipFinished(accepted);
  if (accepted.next < accepted.sources.size()) {
    const fs::path& source = accepted.sources[accepted.next];
    const std::string input = platform::validUtf8(source.filename().string());
    if (!accepted.conversion) {
      ConversionStart started{nullptr, std::string(kUnknownFormatReason)};
      const std::string tag = ack.jobs[accepted.next].text();
      if (std::optional<OutputFormat> format = outputFormat(accepted.format)) {
        // A host gone after naming the output and before recording it: record it now, so
        // the file is never converted twice.
        if (std::optional<fs::path> placed = placedOutput(source, format->extension, tag)) {
          logEvent(label + ": " + input + " was converted by a host that is gone; recorded");
          record(accepted, placed);
          return finishStep(accepted, settled, label);
        }
        started = Conversion::start(source, *format, tag);
      }
      if (started.conversion) {
        accepted.conversion = std::move(started.conversion);
        return false;
      }
      logEvent(label + ": " + input + " not converted: " + started.failure);
      record(accepted, std::nullopt, started.failure);
    } else {
      switch (accepted.conversion->poll(stallLimit)) {
        case Conversion::Progress::running:
          return false;
        case Conversion::Progress::succeeded: {
          std::optional<fs::path> output = accepted.conversion->finish();
          if (!output) logEvent(label + ": the output of " + input + " could not be named");
          record(accepted, output, accepted.conversion->failure());
          break;
        }
        case Conversion::Progress::failed:
          logEvent(label + ": ffmpeg failed on " + input +
                   (accepted.conversion->stalled() ? " (stopped: no progress)" : "") + ": " +
                   accepted.conversion->failure());
          record(accepted, std::nullopt, accepted.conversion->failure());
          break;
      }
    }
  }
  return finishStep(accepted, settled, label);
}

bool convertNext(AcceptedRequest& accepted, std::chrono::duration<double> stallLimit) {
  skipFinished(accepted);
  const std::size_t job = accepted.next;
  for (;;) {
    if (advance(accepted, stallLimit)) return true;
    if (accepted.next != job) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

RequestOutcome outcomeOf(const AcceptedRequest& accepted) {
  const Acknowledgement& ack = accepted.acknowledgement;
  RequestOutcome outcome{ack.id, accepted.format, 0, {}, 0, ack.outputs};
  for (std::size_t job = 0; job < ack.jobs.size(); ++job) {
    const auto state = ack.states.find(ack.jobs[job].text());
    if (state == ack.states.end()) continue;
    if (state->second == kJobDone) ++outcome.converted;
    if (state->second != kJobFailed) continue;
    if (job >= accepted.sources.size()) {
      ++outcome.failedUnnamed;
      continue;
    }
    const bool known = job < accepted.failures.size() && !accepted.failures[job].empty();
    outcome.failures.push_back({platform::validUtf8(accepted.sources[job].filename().string()),
                                known ? accepted.failures[job] : std::string(kReasonUnknown)});
  }
  return outcome;
}

}  // namespace host
