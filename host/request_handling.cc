#include "host/request_handling.h"

#include <fstream>
#include <optional>
#include <system_error>
#include <vector>

#include "exchange/record_files.h"
#include "exchange/records.h"
#include "host/conversion.h"
#include "platform/linux/bookmark.h"

namespace host {
namespace {

namespace fs = std::filesystem;
using FinderConversion::Acknowledgement;
using FinderConversion::Input;
using FinderConversion::Request;

std::optional<Request> takeRecord(const TakenRequest& taken) {
  std::optional<Request> request = FinderConversion::tryRead<Request>(taken.location);
  std::error_code ignored;
  fs::remove(taken.location, ignored);
  return request;
}

void answer(const fs::path& root, const TakenRequest& taken, const Acknowledgement& ack) {
  fs::path directory = FinderConversion::acknowledgements(root);
  FinderConversion::prepare(directory);
  FinderConversion::write(ack, directory / taken.queueName);
}

bool isReadableFile(const fs::path& path) {
  std::error_code error;
  if (!fs::is_regular_file(path, error)) return false;
  std::ifstream stream(path, std::ios::binary);
  return stream.good();
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

AcceptedRequest accept(const fs::path& root, const TakenRequest& taken, const Request& request,
                       std::vector<fs::path> sources) {
  AcceptedRequest accepted{root, taken.queueName, request.format, std::move(sources), {}, 0};
  Acknowledgement& ack = accepted.acknowledgement;
  ack.id = request.id;
  ack.accepted = true;
  for (std::size_t index = 0; index < accepted.sources.size(); ++index) {
    ack.jobs.push_back(platform::Uuid::random());
    ack.states[ack.jobs.back().text()] = "queued";
  }
  answer(root, taken, ack);  // the provider waits for this first answer
  return accepted;
}

}  // namespace

std::string unreadableInputSentence(const fs::path& input) {
  return "Tonebrook cannot read \u201c" + input.filename().string() + "\u201d.";
}

std::optional<AcceptedRequest> answerRequest(const fs::path& root, const TakenRequest& taken) {
  std::optional<Request> request = takeRecord(taken);
  if (!request) {
    std::string stem = fs::path(taken.queueName).stem().string();
    if (std::optional<platform::Uuid> id = platform::Uuid::parse(stem)) {
      FinderConversion::refuse(root, *id, std::string(unreadableRequestSentence));
    }
    return std::nullopt;  // without an identifier there is nobody to answer
  }
  try {
    FinderConversion::validate(*request);
  } catch (const platform::Error& error) {
    FinderConversion::refuse(root, request->id, error.description());
    return std::nullopt;
  }
  std::string refusal;
  std::vector<fs::path> sources = sourcesOf(*request, refusal);
  if (refusal.empty() && !ffmpegAvailable()) refusal = noConverterSentence;
  if (!refusal.empty()) {
    FinderConversion::refuse(root, request->id, refusal);
    return std::nullopt;
  }
  return accept(root, taken, *request, std::move(sources));
}

bool convertNext(AcceptedRequest& accepted) {
  Acknowledgement& ack = accepted.acknowledgement;
  TakenRequest taken{{}, accepted.queueName};
  if (accepted.next < accepted.sources.size()) {
    std::optional<fs::path> output =
        convertFile(accepted.sources[accepted.next], *outputFormat(accepted.format));
    ack.states[ack.jobs[accepted.next].text()] = output ? "done" : "failed";
    if (output) ack.outputs.push_back(platform::Url::fromFilePath(*output));
    ++accepted.next;
  }
  ack.terminal = accepted.next == accepted.sources.size();
  answer(accepted.root, taken, ack);
  return ack.terminal;
}

}  // namespace host
