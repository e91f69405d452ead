#include "host/conversion.h"

#include <cstdlib>
#include <system_error>

#include "platform/core/run_tool.h"

namespace host {
namespace {

namespace fs = std::filesystem;

bool isExecutable(const fs::path& path) {
  std::error_code error;
  fs::file_status status = fs::status(path, error);
  return !error && fs::is_regular_file(status) &&
         (status.permissions() & fs::perms::others_exec) != fs::perms::none;
}

// ffmpegArguments: a quiet, non-interactive run that refuses to overwrite. The "file:" prefix
// keeps ffmpeg from reading a name such as "concat:x" as a protocol. The tool is run without a
// shell, so each name reaches ffmpeg exactly as it is.
std::vector<std::string> ffmpegArguments(const fs::path& input, const fs::path& output,
                                         const OutputFormat& format) {
  std::vector<std::string> arguments{"ffmpeg", "-nostdin", "-hide_banner", "-loglevel", "error",
                                     "-n",     "-i"};
  arguments.push_back("file:" + input.string());
  arguments.push_back("-vn");
  arguments.insert(arguments.end(), format.encoderArguments.begin(), format.encoderArguments.end());
  arguments.push_back("file:" + output.string());
  return arguments;
}

}  // namespace

std::optional<OutputFormat> outputFormat(std::string_view format) {
  if (format == "wav") return OutputFormat{"wav", {"-c:a", "pcm_s16le"}};
  if (format == "mp3") return OutputFormat{"mp3", {"-c:a", "libmp3lame", "-q:a", "2"}};
  if (format == "aac") return OutputFormat{"m4a", {"-c:a", "aac", "-b:a", "192k"}};
  if (format == "flac") return OutputFormat{"flac", {"-c:a", "flac"}};
  if (format == "ogg") return OutputFormat{"ogg", {"-c:a", "libvorbis", "-q:a", "5"}};
  return std::nullopt;
}

fs::path freeOutputLocation(const fs::path& input, std::string_view extension) {
  const std::string stem = input.stem().string();
  std::string suffix(1, '.');  // not "." + string: GCC 12 -O2 sees a false -Wrestrict there
  suffix += extension;
  fs::path candidate = input.parent_path() / (stem + suffix);
  std::error_code error;
  for (int number = 2; fs::exists(fs::symlink_status(candidate, error)); ++number) {
    candidate = input.parent_path() / (stem + " " + std::to_string(number) + suffix);
  }
  return candidate;
}

bool ffmpegAvailable() {
  const char* path = std::getenv("PATH");
  std::string directories = path ? path : "/usr/local/bin:/usr/bin:/bin";
  std::size_t start = 0;
  while (start <= directories.size()) {
    std::size_t end = directories.find(':', start);
    if (end == std::string::npos) end = directories.size();
    std::string directory = directories.substr(start, end - start);
    if (!directory.empty() && isExecutable(fs::path(directory) / "ffmpeg")) return true;
    start = end + 1;
  }
  return false;
}

std::optional<fs::path> convertFile(const fs::path& input, const OutputFormat& format) {
  fs::path output = freeOutputLocation(input, format.extension);
  if (platform::runTool(ffmpegArguments(input, output, format), {0})) return output;
  // Whatever lies at `output` now is left alone: it may be a file another program created in
  // the meantime, which ffmpeg -n refused to touch.
  return std::nullopt;
}

}  // namespace host
