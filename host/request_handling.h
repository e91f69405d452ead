#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "exchange/records.h"

namespace host {

inline constexpr std::string_view unreadableRequestSentence =
    "Tonebrook could not read this conversion request.";
inline constexpr std::string_view noConverterSentence =
    "Tonebrook cannot convert on this computer because ffmpeg is not installed.";

// TakenRequest is a request file this host has taken out of the queue: its private location
// now and the name it had in the queue (the request's identifier and ".json").
struct TakenRequest {
  std::filesystem::path location;
  std::string queueName;
};

// AcceptedRequest is a request this host has accepted and is converting, one input at a time.
struct AcceptedRequest {
  std::filesystem::path root;
  std::string queueName;
  std::string format;
  std::vector<std::filesystem::path> sources;
  FinderConversion::Acknowledgement acknowledgement;
  std::size_t next = 0;  // the next source to convert
};

// answerRequest answers one taken request at once in "acknowledgements": refused with a sentence
// (FinderConversion::refuse, named after the request's identifier, for an unreadable request
// the one in its queue name) when it cannot be read, is invalid, names an input that cannot be
// read, or cannot be converted here; otherwise accepted under its queue name, with one queued
// job per input. Both names are the same for every request the provider queues. The taken
// file is removed once read. Returns the accepted request.
std::optional<AcceptedRequest> answerRequest(const std::filesystem::path& root,
                                             const TakenRequest& taken);

// convertNext converts the next input of `accepted` and rewrites its acknowledgement with the
// job's state and output; after the last one it marks the acknowledgement terminal. True when
// the request is finished.
bool convertNext(AcceptedRequest& accepted);

// unreadableInputSentence names the input that cannot be read.
std::string unreadableInputSentence(const std::filesystem::path& input);

}  // namespace host
