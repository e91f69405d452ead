#pragma once

#include <filesystem>
#include <string>
#include <string_view>

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

// handleRequest answers one taken request in "acknowledgements" under the queue name: refused
// with a sentence when it cannot be read, is invalid, names an input that cannot be read or
// cannot be converted here; otherwise accepted at once, then converted input by input, the
// acknowledgement rewritten with each job's state and the outputs, and finally marked terminal.
// The taken file is removed once read.
void handleRequest(const std::filesystem::path& root, const TakenRequest& taken);

// unreadableInputSentence names the input that cannot be read.
std::string unreadableInputSentence(const std::filesystem::path& input);

}  // namespace host
