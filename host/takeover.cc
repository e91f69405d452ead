#include <algorithm>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "exchange/record_files.h"
#include "exchange/records.h"
#include "host/conversion.h"
#include "host/log.h"
#include "host/request_handling.h"
#include "host/request_steps.h"

// Taking over the work of hosts that are gone: taken request files nobody holds a lock on, and
// acknowledgements left unfinished without a request.
namespace host {
namespace {

namespace fs = std::filesystem;
using FinderConversion::Acknowledgement;
using FinderConversion::Input;
using FinderConversion::Request;
using namespace steps;

// failRemaining marks every queued job failed and the acknowledgement terminal. The inputs are
// not known here, so the outcome counts the failed jobs without names.
void failRemaining(const fs::path& root, std::string_view queueName, Acknowledgement ack,
                   const OutcomeHandler& settled) {
  RequestOutcome outcome{ack.id, {}, 0, {}, 0, ack.outputs};
  for (const platform::Uuid& job : ack.jobs) {
    std::string& state = ack.states[job.text()];
    if (state == kJobQueued) state = kJobFailed;
    if (state == kJobDone) ++outcome.converted;
    if (state == kJobFailed) ++outcome.failedUnnamed;
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

}  // namespace

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

}  // namespace host
