#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/core/output_capture.h"
#include "platform/core/spawn.h"

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

// hiddenOutputLocation: where the conversion of `input` tagged `tag` (a job identifier) writes
// before its output has a final name: ".tonebrook-<tag>.<extension>" beside the input.
std::filesystem::path hiddenOutputLocation(const std::filesystem::path& input,
                                           std::string_view extension, std::string_view tag);

// placedOutput: the final name that the finished conversion of `input` tagged `tag` was given
// while its hidden name still exists (its host was gone before it could record the output): an
// entry "<stem>.<extension>" or "<stem> N.<extension>" beside the input that is the same file as
// the hidden one. nullopt when there is no hidden file, it has no second name, or that name is
// not one of those.
std::optional<std::filesystem::path> placedOutput(const std::filesystem::path& input,
                                                  std::string_view extension, std::string_view tag);

// dropHiddenName removes the hidden name of the conversion of `input` tagged `tag` once its
// output is recorded (the output keeps its final name); errors are dropped: a name left behind
// costs nothing and the next host drops it.
void dropHiddenName(const std::filesystem::path& input, std::string_view extension,
                    std::string_view tag);

class Conversion;

// ConversionStart is what Conversion::start gives: the running conversion, or none and the
// reason it could not start (see host/failure_reasons.h).
struct ConversionStart {
  std::unique_ptr<Conversion> conversion;
  std::string failure;
};

// Conversion is one input being converted by ffmpeg, a child process that the caller watches
// with poll while it does other work. The output is written under a hidden name beside the
// input (hiddenOutputLocation) and gets its final name only once complete, so a partial
// output never carries the final name. ffmpeg reads the input through a descriptor opened
// here, so it converts exactly the regular file checked here, never a FIFO or device put in
// its place. It ends with this process, and poll stops it when its output has not grown for
// the stall limit. The start of what ffmpeg writes to its standard error is kept to tell why
// it failed. A Conversion that goes unfinished kills ffmpeg and removes the hidden file.
class Conversion {
 public:
  enum class Progress { running, succeeded, failed };

  // start: the conversion, or the reason there is none: the input is gone or not a readable
  // regular file, no file can be created beside it, or ffmpeg cannot be started. `tag` names
  // the hidden output (a job identifier); a file already there under that name, left by a
  // conversion that was cut short, is replaced.
  static ConversionStart start(const std::filesystem::path& input, const OutputFormat& format,
                               std::string_view tag);

  Conversion(const Conversion&) = delete;
  Conversion& operator=(const Conversion&) = delete;
  ~Conversion();

  // poll: whether ffmpeg still runs, succeeded or failed. A converter whose output has not
  // grown for `stallLimit` is killed, and the conversion failed. One that ended with status 0
  // failed all the same when it reported that its output could not be finished.
  Progress poll(std::chrono::duration<double> stallLimit);

  // finish, after success: gives the output its final name at freeOutputLocation, never
  // replacing a file (another program may take a name meanwhile: the next free one is used).
  // The final name is added as a second link to the hidden file, which stays until the caller
  // has recorded the output and calls dropHiddenName: a host killed in between leaves a trace
  // the next one follows (placedOutput) instead of converting the file again. Where the file
  // system has no hard links the hidden file is renamed. The final location; nullopt when it
  // could not be named (the hidden file is removed).
  std::optional<std::filesystem::path> finish();

  const std::filesystem::path& hiddenOutput() const noexcept { return hidden_; }
  // stalled: poll stopped the converter for want of progress.
  bool stalled() const noexcept { return stalled_; }
  // failure: why the conversion failed, for the user, once poll answered failed or finish
  // gave nothing; empty before.
  const std::string& failure() const noexcept { return failure_; }

 private:
  Conversion(std::filesystem::path input, std::filesystem::path hidden, std::string extension,
             platform::ChildProcess converter, platform::OutputCapture errors);

  std::filesystem::path input_;
  std::filesystem::path hidden_;
  std::string extension_;
  platform::ChildProcess converter_;
  platform::OutputCapture errors_;
  std::uintmax_t outputSize_ = 0;
  std::chrono::steady_clock::time_point lastGrowth_;
  bool finished_ = false;
  bool stalled_ = false;
  std::string failure_;
};

// convertFile converts `input` beside itself and waits for the end (a Conversion with a fresh
// tag); the output location when ffmpeg succeeded, else nullopt.
std::optional<std::filesystem::path> convertFile(
    const std::filesystem::path& input, const OutputFormat& format,
    std::chrono::duration<double> stallLimit = std::chrono::seconds(60));

}  // namespace host
