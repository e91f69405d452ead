// The reason a user reads for a failed job, from what ffmpeg 5.1 wrote to its standard error
// (the texts below are its own, met on this machine) and from errors creating the output.
#include "host/failure_reasons.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <optional>
#include <string>

namespace {

constexpr std::string_view kInput = "file:/dev/fd/3";
constexpr std::string_view kOutput = "file:/music/.tonebrook-1.mp3";

TEST(ConverterFailureTest, TellsThePlainReasonFromFfmpegsWords) {
  const std::string longLine(400, 'x');
  const struct {
    const char* name;
    int status;
    std::string errors;
    std::optional<std::string> reason;
  } cases[] = {
      {"clean run", 0, "", std::nullopt},
      {"damaged frames, converted all the same", 0,
       "[mp3float @ 0x5] Header missing\nError while decoding stream #0:0: Invalid data found when "
       "processing input\n",
       std::nullopt},
      {"a text file", 1, "file:/dev/fd/3: Invalid data found when processing input\n",
       "not an audio file"},
      {"a video without sound", 1, "Output file #0 does not contain any stream\n",
       "not an audio file"},
      {"read-only folder", 1, "file:/music/.tonebrook-1.mp3: Read-only file system\n",
       "its folder cannot be written to"},
      {"folder without write permission", 1, "file:/music/.tonebrook-1.mp3: Permission denied\n",
       "its folder cannot be written to"},
      // ffmpeg 5.1 ends with status 0 here, leaving a cut-off file.
      {"disk full at the end", 0,
       "Error writing trailer of file:/music/.tonebrook-1.mp3: No space left on device\n"
       "Error closing file file:/music/.tonebrook-1.mp3: No space left on device\n",
       "the disk is full"},
      {"disk full on the way", 1, "av_interleaved_write_frame(): No space left on device\n",
       "the disk is full"},
      {"quota", 1, "av_interleaved_write_frame(): Disk quota exceeded\n", "the disk is full"},
      {"output unfinished for another reason", 0,
       "Error writing trailer of file:/music/.tonebrook-1.mp3: Input/output error\n",
       "ffmpeg: Error writing trailer of file:/music/.tonebrook-1.mp3: Input/output error"},
      {"anything else: the first line, own names left out", 1,
       "\n  \nfile:/music/.tonebrook-1.mp3: Invalid argument\nsecond line\n",
       "ffmpeg: Invalid argument"},
      {"the input's name left out", 1, "file:/dev/fd/3: Connection reset\n",
       "ffmpeg: Connection reset"},
      {"a line made plain: UTF-8, no control characters", 1, "caf\xe9\tbar\x1b[0m\r\nnext",
       "ffmpeg: caf\uFFFD bar [0m"},
      {"a long line, cut", 1, longLine, "ffmpeg: " + std::string(160, 'x') + "\u2026"},
      {"a long line cut before a character, never inside it", 1,
       std::string(159, 'x') + "\u00e9\u00e9", "ffmpeg: " + std::string(159, 'x') + "\u2026"},
      {"silent failure", 1, "", "ffmpeg failed (exit status 1)"},
      {"killed", 137, "", "ffmpeg stopped unexpectedly (signal 9)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(host::converterFailure(c.status, c.errors, {kInput, kOutput}), c.reason);
  }
}

TEST(CreationFailureTest, FolderDiskOrTheSystemsWords) {
  const struct {
    int code;
    std::string reason;
  } cases[] = {
      {EACCES, "its folder cannot be written to"},
      {EPERM, "its folder cannot be written to"},
      {EROFS, "its folder cannot be written to"},
      {ENOSPC, "the disk is full"},
      {ENAMETOOLONG, "the converted file cannot be created (File name too long)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.code);
    EXPECT_EQ(host::creationFailure(c.code), c.reason);
  }
}

}  // namespace
