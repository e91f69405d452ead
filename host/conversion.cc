#include "host/conversion.h"

#include <cstdlib>
#include <system_error>
#include <thread>
#include <utility>

#include "host/failure_reasons.h"
#include "platform/core/error.h"
#include "platform/core/file_operations.h"
#include "platform/core/files.h"
#include "platform/core/uuid.h"

namespace host {
namespace {

namespace fs = std::filesystem;

// The input's descriptor in ffmpeg, and how ffmpeg names it.
constexpr int kInputDescriptor = 3;
constexpr std::string_view kInputUrl = "file:/dev/fd/3";
// How much of ffmpeg's error text is kept: its first lines say why it failed.
constexpr std::size_t kErrorTextLimit = 4096;

bool isExecutable(const fs::path& path) {
  std::error_code error;
  fs::file_status status = fs::status(path, error);
  return !error && fs::is_regular_file(status) &&
         (status.permissions() & fs::perms::others_exec) != fs::perms::none;
}

// ffmpegArguments: a quiet, non-interactive run that refuses to overwrite. The "file:" prefix
// keeps ffmpeg from reading a name as a protocol ("concat:x"). The tool is run without a shell,
// so the output name reaches ffmpeg exactly as it is; the input is the descriptor passed in.
std::vector<std::string> ffmpegArguments(const fs::path& output, const OutputFormat& format) {
  std::vector<std::string> arguments{"ffmpeg", "-nostdin", "-hide_banner", "-loglevel", "error",
                                     "-n",     "-i"};
  arguments.emplace_back(kInputUrl);
  arguments.push_back("-vn");
  arguments.insert(arguments.end(), format.encoderArguments.begin(), format.encoderArguments.end());
  arguments.push_back("file:" + output.string());
  return arguments;
}

// inputFailure: why the input cannot be opened for the converter.
std::string_view inputFailure(const fs::path& input) {
  try {
    if (platform::resolvedItemKind(input) == platform::ItemKind::missing) return kInputGoneReason;
  } catch (const platform::Error&) {  // NOLINT(bugprone-empty-catch): it cannot be read either
  }
  return kInputUnreadableReason;
}

std::uintmax_t sizeOf(const fs::path& path) {
  std::error_code error;
  const std::uintmax_t size = fs::file_size(path, error);
  return error ? 0 : size;
}

std::string suffixOf(std::string_view extension) {
  std::string suffix(1, '.');  // not "." + string: GCC 12 -O2 sees a false -Wrestrict there
  suffix += extension;
  return suffix;
}

// isOutputName: `name` is one freeOutputLocation gives for an input of `stem`: "<stem><suffix>"
// or "<stem> N<suffix>".
bool isOutputName(std::string_view name, std::string_view stem, std::string_view suffix) {
  if (!name.starts_with(stem) || !name.ends_with(suffix)) return false;
  if (name.size() == stem.size() + suffix.size()) return true;
  std::string_view number = name.substr(stem.size(), name.size() - stem.size() - suffix.size());
  if (number.size() < 2 || number.front() != ' ') return false;
  number.remove_prefix(1);
  return number.find_first_not_of("0123456789") == std::string_view::npos;
}

// linksUnsupported: the file system cannot give a file a second name (FAT and the like say
// EPERM), or this file no more of them.
bool linksUnsupported(const std::error_code& error) {
  return error == std::errc::operation_not_permitted ||
         error == std::errc::operation_not_supported || error == std::errc::too_many_links;
}

}  // namespace

fs::path hiddenOutputLocation(const fs::path& input, std::string_view extension,
                              std::string_view tag) {
  return input.parent_path() / (".tonebrook-" + std::string(tag) + suffixOf(extension));
}

std::optional<fs::path> placedOutput(const fs::path& input, std::string_view extension,
                                     std::string_view tag) {
  const fs::path hidden = hiddenOutputLocation(input, extension, tag);
  std::error_code error;
  if (!fs::is_regular_file(fs::symlink_status(hidden, error)) ||
      fs::hard_link_count(hidden, error) < 2 || error) {
    return std::nullopt;
  }
  const std::string stem = input.stem().string();
  const std::string suffix = suffixOf(extension);
  for (const auto& entry : fs::directory_iterator(input.parent_path(), error)) {
    std::error_code unreadable;
    if (!isOutputName(entry.path().filename().string(), stem, suffix) ||
        !fs::is_regular_file(entry.symlink_status(unreadable))) {
      continue;
    }
    if (fs::equivalent(entry.path(), hidden, unreadable)) return entry.path();
  }
  return std::nullopt;
}

void dropHiddenName(const fs::path& input, std::string_view extension, std::string_view tag) {
  std::error_code ignored;
  fs::remove(hiddenOutputLocation(input, extension, tag), ignored);
}

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
  const std::string suffix = suffixOf(extension);
  fs::path candidate = input.parent_path() / (stem + suffix);
  std::error_code error;
  for (int number = 2; fs::exists(fs::symlink_status(candidate, error)); ++number) {
    std::string numbered = stem;
    numbered.append(" ").append(std::to_string(number)).append(suffix);
    candidate = input.parent_path() / numbered;
  }
  return candidate;
}

bool ffmpegAvailable() {
  const char* path = std::getenv("PATH");  // NOLINT(concurrency-mt-unsafe): nobody sets it
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

ConversionStart Conversion::start(const fs::path& input, const OutputFormat& format,
                                  std::string_view tag) {
  std::optional<platform::RegularFile> source = platform::RegularFile::open(input);
  if (!source) return {nullptr, std::string(inputFailure(input))};
  fs::path hidden = hiddenOutputLocation(input, format.extension, tag);
  std::error_code ignored;
  fs::remove(hidden, ignored);
  try {
    // Tried before ffmpeg runs: the system's own answer, whatever the input holds.
    platform::checkCanCreate(hidden);
  } catch (const platform::Error& error) {
    return {nullptr, creationFailure(error.code())};
  }
  try {
    platform::OutputCapture errors(kErrorTextLimit);
    platform::SpawnOptions options;
    options.arguments = ffmpegArguments(hidden, format);
    options.searchPath = true;
    options.passed = {{kInputDescriptor, source->descriptor()}};
    options.errors = errors.target();
    options.endsWithThisProcess = true;
    platform::ChildProcess converter = platform::ChildProcess::spawn(options);
    errors.closeWriteEnd();
    return {std::unique_ptr<Conversion>(new Conversion(input, std::move(hidden), format.extension,
                                                       std::move(converter), std::move(errors))),
            {}};
  } catch (const platform::Error&) {
    return {nullptr, std::string(kConverterNotStartedReason)};
  }
}

Conversion::Conversion(fs::path input, fs::path hidden, std::string extension,
                       platform::ChildProcess converter, platform::OutputCapture errors)
    : input_(std::move(input)),
      hidden_(std::move(hidden)),
      extension_(std::move(extension)),
      converter_(std::move(converter)),
      errors_(std::move(errors)),
      lastGrowth_(std::chrono::steady_clock::now()) {}

Conversion::~Conversion() {
  converter_ = platform::ChildProcess();  // kills and reaps it when it still runs
  if (!finished_) {
    std::error_code ignored;
    fs::remove(hidden_, ignored);
  }
}

Conversion::Progress Conversion::poll(std::chrono::duration<double> stallLimit) {
  std::optional<int> status;
  errors_.collect();
  try {
    status = converter_.waitFor(std::chrono::seconds(0));
  } catch (const platform::Error&) {
    failure_ = kConverterNotStartedReason;
    return Progress::failed;
  }
  if (status) {
    errors_.collect();  // all it wrote is in the pipe now
    const std::string output = "file:" + hidden_.string();
    std::optional<std::string> failure =
        converterFailure(*status, errors_.text(), {kInputUrl, output});
    if (!failure) return Progress::succeeded;
    failure_ = *std::move(failure);
    return Progress::failed;
  }
  const auto now = std::chrono::steady_clock::now();
  const std::uintmax_t size = sizeOf(hidden_);
  if (size != outputSize_) {
    outputSize_ = size;
    lastGrowth_ = now;
  } else if (now - lastGrowth_ >= stallLimit) {
    stalled_ = true;
    failure_ = kStalledReason;
    converter_.kill();
    converter_.wait();
    return Progress::failed;
  }
  return Progress::running;
}

std::optional<fs::path> Conversion::finish() {
  // A name taken between the choice and the link is skipped; a few attempts are plenty. A link,
  // like a rename without replacing, fails rather than replace a file that is there.
  for (int attempt = 0; attempt < 8; ++attempt) {
    fs::path output = freeOutputLocation(input_, extension_);
    std::error_code error;
    fs::create_hard_link(hidden_, output, error);
    if (!error) {
      finished_ = true;
      return output;
    }
    if (error == std::errc::file_exists) continue;
    if (!linksUnsupported(error)) break;
    try {
      if (platform::renameWithoutReplacing(hidden_, output)) {
        finished_ = true;
        return output;
      }
    } catch (const platform::Error&) {
      break;
    }
  }
  failure_ = kOutputNotSavedReason;
  return std::nullopt;
}

std::optional<fs::path> convertFile(const fs::path& input, const OutputFormat& format,
                                    std::chrono::duration<double> stallLimit) {
  const std::string tag = platform::Uuid::random().text();
  std::unique_ptr<Conversion> conversion = Conversion::start(input, format, tag).conversion;
  if (!conversion) return std::nullopt;
  for (;;) {
    switch (conversion->poll(stallLimit)) {
      case Conversion::Progress::running:
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        continue;
      case Conversion::Progress::succeeded: {
        std::optional<fs::path> output = conversion->finish();
        dropHiddenName(input, format.extension, tag);  // nothing records it
        return output;
      }
      case Conversion::Progress::failed:
        return std::nullopt;
    }
  }
}

}  // namespace host
