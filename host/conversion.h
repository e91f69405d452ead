#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace host {

// OutputFormat is how one of the request formats is written: file extension and encoder.
struct OutputFormat {
  std::string extension;
  std::vector<std::string> encoderArguments;
};

// outputFormat for "wav", "mp3", "aac" (as .m4a), "flac" or "ogg"; nullopt for anything else.
std::optional<OutputFormat> outputFormat(std::string_view format);

// freeOutputLocation: "<name>.<ext>" beside the input, else "<name> 2.<ext>", "<name> 3.<ext>"...
// the first that does not exist yet.
std::filesystem::path freeOutputLocation(const std::filesystem::path& input,
                                         std::string_view extension);

// ffmpegAvailable: an executable "ffmpeg" is found on PATH.
bool ffmpegAvailable();

// convertFile converts `input` beside itself with ffmpeg, never overwriting a file; the output
// location when ffmpeg succeeded, else nullopt.
std::optional<std::filesystem::path> convertFile(const std::filesystem::path& input,
                                                 const OutputFormat& format);

}  // namespace host
