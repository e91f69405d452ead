#include "host/request_steps.h"

#include <exception>
#include <utility>

#include "exchange/record_files.h"
#include "host/conversion.h"
#include "host/log.h"
#include "platform/core/files.h"
#include "platform/core/unicode.h"
#include "platform/linux/bookmark.h"

namespace host::steps {

namespace fs = std::filesystem;

namespace {

// answersOf: the answers folder, prepared, never through a link in its place.
platform::Directory answersOf(const fs::path& root) {
  return FinderConversion::stateDirectory(root, FinderConversion::names::kAcknowledgements);
}

}  // namespace

using FinderConversion::Acknowledgement;
using FinderConversion::Input;
using FinderConversion::Request;

std::string labelOf(std::string_view queueName) {
  return "request " + platform::validUtf8(fs::path(queueName).stem().string());
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

std::string& stateOf(Acknowledgement& ack, std::size_t job) {
  return ack.states[ack.jobs[job].text()];
}

// skipFinished moves `next` past jobs that are no longer queued (done before a resume).
void skipFinished(AcceptedRequest& accepted) {
  Acknowledgement& ack = accepted.acknowledgement;
  while (accepted.next < accepted.sources.size() && stateOf(ack, accepted.next) != kJobQueued) {
    ++accepted.next;
  }
}

// dropHiddenNames drops the hidden names of the recorded outputs of `sources`: once the
// acknowledgement names an output, nobody needs to find it through its hidden name.
void dropHiddenNames(const std::vector<fs::path>& sources, const std::string& format,
                     const Acknowledgement& ack) {
  const std::optional<OutputFormat> output = outputFormat(format);
  if (!output) return;
  for (std::size_t job = 0; job < sources.size() && job < ack.jobs.size(); ++job) {
    const auto state = ack.states.find(ack.jobs[job].text());
    if (state != ack.states.end() && state->second == kJobDone) {
      dropHiddenName(sources[job], output->extension, ack.jobs[job].text());
    }
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

}  // namespace host::steps
