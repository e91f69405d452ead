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
#include "platform/core/file_operations.h"
#include "platform/core/unicode.h"
#include "platform/linux/bookmark.h"

namespace host {
namespace {

namespace fs = std::filesystem;
using FinderConversion::Acknowledgement;
using FinderConversion::Input;
using FinderConversion::Request;

constexpr std::string_view kTakenPrefix = ".taken-";

std::string labelOf(std::string_view queueName) {
  return "request " + platform::validUtf8(fs::path(queueName).stem().string());
}

// The queue and answer directories are opened for each step without following a link in their
// place, and every file is reached by name inside them: nothing is read or written outside the
// state root through a planted link.
platform::Directory answersOf(const fs::path& root) {
  return FinderConversion::stateDirectory(root, FinderConversion::names::kAcknowledgements);
}

// queueOf: the queue directory holding a taken file.
platform::Directory queueOf(const TakenRequest& taken) {
  return platform::Directory::open(taken.location.parent_path());
}

std::string nameOf(const fs::path& location) {
  return location.filename().string();
}

void writeAnswer(const fs::path& root, std::string_view queueName, const Acknowledgement& ack) {
  platform::Directory answers = answersOf(root);
  FinderConversion::write(ack, answers, queueName);
}

std::optional<Acknowledgement> answerOf(const fs::path& root, std::string_view queueName) {
  try {
    std::optional<platform::Directory> answers =
        FinderConversion::existingStateDirectory(root, FinderConversion::names::kAcknowledgements);
    if (!answers) return std::nullopt;
    return FinderConversion::tryRead<Acknowledgement>(*answers, queueName);
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

std::optional<Request> requestOf(const TakenRequest& taken) {
  try {
    return FinderConversion::tryRead<Request>(queueOf(taken), nameOf(taken.location));
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

// putBack returns a taken request to the queue under its own name, for a later answer.
void putBack(const TakenRequest& taken) {
  try {
    if (queueOf(taken).renameWithoutReplacing(nameOf(taken.location), taken.queueName)) return;
    logEvent(labelOf(taken.queueName) + ": not put back, the queue holds that name again");
  } catch (const std::exception& error) {
    logEvent(labelOf(taken.queueName) + ": not put back: " + error.what());
  }
}

void discard(const TakenRequest& taken) {
  try {
    queueOf(taken).remove(nameOf(taken.location));
  } catch (const std::exception& error) {
    logEvent(labelOf(taken.queueName) + ": not removed from the queue: " + error.what());
  }
}

bool isReadableFile(const fs::path& path) {
  return platform::RegularFile::open(path).has_value();
}

// sourceOf: the input's own location, or where its bookmark leads when nothing is there.
std::optional<fs::path> sourceOf(const Input& input) {
  std::optional<fs::path> path = input.url.filePath();
  if (path && isReadableFile(*path)) return path;
  if (!input.bookmark) return path;
  try {
    return platform::resolveBookmark(*input.bookmark).filePath();
  } catch (const std::exception&) {
    return path;
  }
}

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

std::string& stateOf(Acknowledgement& ack, std::size_t job) {
  return ack.states[ack.jobs[job].text()];
}

// skipFinished moves `next` past jobs that are no longer queued (done before a resume).
void skipFinished(AcceptedRequest& accepted) {
  Acknowledgement& ack = accepted.acknowledgement;
  while (accepted.next < accepted.sources.size() && stateOf(ack, accepted.next) != "queued") {
    ++accepted.next;
  }
}

// record settles the current job: done with its output, or failed for `reason`.
void record(AcceptedRequest& accepted, const std::optional<fs::path>& output,
            std::string reason = {}) {
  Acknowledgement& ack = accepted.acknowledgement;
  stateOf(ack, accepted.next) = output ? "done" : "failed";
  if (output) ack.outputs.push_back(platform::Url::fromFilePath(*output));
  if (!output) {
    accepted.failures.resize(accepted.sources.size());
    accepted.failures[accepted.next] = std::move(reason);
  }
  accepted.conversion.reset();
  ++accepted.next;
  skipFinished(accepted);
}

// dropHiddenNames drops the hidden names of the recorded outputs of `sources`: once the
// acknowledgement names an output, nobody needs to find it through its hidden name.
void dropHiddenNames(const std::vector<fs::path>& sources, const std::string& format,
                     const Acknowledgement& ack) {
  const std::optional<OutputFormat> output = outputFormat(format);
  if (!output) return;
  for (std::size_t job = 0; job < sources.size() && job < ack.jobs.size(); ++job) {
    const auto state = ack.states.find(ack.jobs[job].text());
    if (state != ack.states.end() && state->second == "done") {
      dropHiddenName(sources[job], output->extension, ack.jobs[job].text());
    }
  }
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

// tell passes a settled request's outcome on; what the handler throws is logged.
void tell(const OutcomeHandler& settled, const RequestOutcome& outcome, const std::string& label) {
  if (!settled) return;
  try {
    settled(outcome);
  } catch (const std::exception& error) {
    logEvent(label + ": its outcome was not told: " + error.what());
  }
}

// failRemaining marks every queued job failed and the acknowledgement terminal. The inputs are
// not known here, so the outcome counts the failed jobs without names.
void failRemaining(const fs::path& root, std::string_view queueName, Acknowledgement ack,
                   const OutcomeHandler& settled) {
  RequestOutcome outcome{ack.id, {}, 0, {}, 0, ack.outputs};
  for (const platform::Uuid& job : ack.jobs) {
    std::string& state = ack.states[job.text()];
    if (state == "queued") state = "failed";
    if (state == "done") ++outcome.converted;
    if (state == "failed") ++outcome.failedUnnamed;
  }
  ack.terminal = true;
  try {
    writeAnswer(root, queueName, ack);
    logEvent(labelOf(queueName) + ": its host is gone and the request with it; jobs left failed");
  } catch (const std::exception& error) {
    logEvent(labelOf(queueName) + ": acknowledgement not updated: " + error.what());
    return;
  }
  tell(settled, outcome, labelOf(queueName));
}

// TakenFile is a name "<prefix><pid>-<queue name>" found in "requests".
struct TakenFile {
  fs::path location;
  std::string queueName;
};

std::optional<std::string> queueNameOfTaken(const std::string& name) {
  if (!name.starts_with(kTakenPrefix)) return std::nullopt;
  const std::size_t dash = name.find('-', kTakenPrefix.size());
  if (dash == std::string::npos || dash == kTakenPrefix.size()) return std::nullopt;
  for (std::size_t at = kTakenPrefix.size(); at < dash; ++at) {
    if (name[at] < '0' || name[at] > '9') return std::nullopt;
  }
  std::string queueName = name.substr(dash + 1);
  if (queueName.empty() || queueName.starts_with('.') || !queueName.ends_with(".json")) {
    return std::nullopt;
  }
  return queueName;
}

// takenFiles: the taken request files in "requests", oldest request first (a rename keeps the
// time the provider wrote the request), so that work taken over is converted in the order it
// came, as the queue is, and no request waits behind younger ones however often hosts die.
std::vector<TakenFile> takenFiles(const platform::Directory& queue) {
  std::vector<std::pair<fs::file_time_type, TakenFile>> found;
  for (const platform::Directory::Entry& entry : queue.entries()) {
    if (entry.kind != platform::ItemKind::regularFile) continue;
    if (auto queueName = queueNameOfTaken(entry.name)) {
      found.push_back({entry.modified, {queue.path() / entry.name, *std::move(queueName)}});
    }
  }
  std::stable_sort(found.begin(), found.end(), [](const auto& first, const auto& second) {
    return first.first < second.first;
  });
  std::vector<TakenFile> oldestFirst;
  oldestFirst.reserve(found.size());
  for (auto& [modified, file] : found) oldestFirst.push_back(std::move(file));
  return oldestFirst;
}

bool isTaken(const platform::Directory& queue, std::string_view queueName) {
  for (const TakenFile& file : takenFiles(queue)) {
    if (file.queueName == queueName) return true;
  }
  return false;
}

// adopt takes over an abandoned taken file under this process's name; nullopt when its host
// still holds it, or another host adopted it first.
std::optional<TakenRequest> adopt(platform::Directory& queue, const TakenFile& file) {
  std::optional<platform::LockFile> lock = queue.lockExisting(nameOf(file.location));
  if (!lock || !lock->tryLockExclusive()) return std::nullopt;
  const std::string mine = takenName(file.queueName);
  if (mine != nameOf(file.location)) {
    try {
      if (!queue.renameWithoutReplacing(nameOf(file.location), mine)) return std::nullopt;
    } catch (const platform::Error&) {
      return std::nullopt;  // adopted by another host, which renamed it first
    }
  }
  return TakenRequest{queue.path() / mine, file.queueName, std::move(lock)};
}

// sourcesOfResumed: the files of a request taken over from a host that is gone, each where it
// is now (or its location as given, which fails like a missing file when converted).
std::vector<fs::path> sourcesOfResumed(const Request& request) {
  std::vector<fs::path> sources;
  for (const Input& input : request.inputs) {
    sources.push_back(sourceOf(input).value_or(fs::path(input.url.text())));
  }
  return sources;
}

// resume: the accepted request of an adopted file, or nullopt once it has been settled.
std::optional<AcceptedRequest> resume(const fs::path& root, TakenRequest taken,
                                      const OutcomeHandler& settled) {
  const std::string label = labelOf(taken.queueName);
  std::optional<Acknowledgement> ack = answerOf(root, taken.queueName);
  if (!ack) {
    putBack(taken);
    logEvent(label + ": its host is gone before answering; back in the queue");
    return std::nullopt;
  }
  std::optional<Request> request = requestOf(taken);
  if (!ack->accepted || ack->terminal) {
    // Its host may have gone between the last record and dropping the hidden names.
    if (ack->accepted && request) {
      dropHiddenNames(sourcesOfResumed(*request), request->format, *ack);
    }
    discard(taken);
    return std::nullopt;
  }
  if (!request || !outputFormat(request->format) || request->inputs.size() != ack->jobs.size()) {
    failRemaining(root, taken.queueName, *ack, settled);
    discard(taken);
    return std::nullopt;
  }
  logEvent(label + ": its host is gone; converting its remaining files");
  AcceptedRequest accepted{
      root, std::move(taken), request->format, sourcesOfResumed(*request), *ack, 0, nullptr, {}};
  skipFinished(accepted);
  return accepted;
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
      ack.states[ack.jobs.back().text()] = "queued";
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
      ConversionStart started{nullptr, "its format is not known"};
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

std::vector<AcceptedRequest> resumeAbandoned(const fs::path& root, const OutcomeHandler& settled) {
  namespace names = FinderConversion::names;
  std::optional<platform::Directory> queue =
      FinderConversion::existingStateDirectory(root, names::kRequests);
  std::optional<platform::Directory> answers =
      FinderConversion::existingStateDirectory(root, names::kAcknowledgements);
  std::vector<AcceptedRequest> resumed;
  for (const TakenFile& file : queue ? takenFiles(*queue) : std::vector<TakenFile>{}) {
    std::optional<TakenRequest> taken = adopt(*queue, file);
    if (!taken) continue;
    if (auto accepted = resume(root, *std::move(taken), settled)) {
      resumed.push_back(*std::move(accepted));
    }
  }
  if (!answers) return resumed;
  // Acknowledgements left unfinished with no request to finish them from.
  for (const platform::Directory::Entry& entry : answers->entries()) {
    const std::string& name = entry.name;
    if (name.starts_with('.') || !name.ends_with(".json")) continue;
    auto unfinished = [&]() -> std::optional<Acknowledgement> {
      auto ack = FinderConversion::tryRead<Acknowledgement>(*answers, name);
      if (ack && ack->accepted && !ack->terminal) return ack;
      return std::nullopt;
    };
    if (!unfinished() || (queue && isTaken(*queue, name))) continue;
    // A live host writes the terminal answer before it lets its taken file go: read again.
    if (std::optional<Acknowledgement> ack = unfinished()) failRemaining(root, name, *ack, settled);
  }
  return resumed;
}

RequestOutcome outcomeOf(const AcceptedRequest& accepted) {
  const Acknowledgement& ack = accepted.acknowledgement;
  RequestOutcome outcome{ack.id, accepted.format, 0, {}, 0, ack.outputs};
  for (std::size_t job = 0; job < ack.jobs.size(); ++job) {
    const auto state = ack.states.find(ack.jobs[job].text());
    if (state == ack.states.end()) continue;
    if (state->second == "done") ++outcome.converted;
    if (state->second != "failed") continue;
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
