#pragma once

#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>

// Why a conversion job failed, in the words the user reads after the file's name
// ("“notes.wav”: not an audio file"): one plain reason per job.
namespace host {

inline constexpr std::string_view kNotAudioReason = "not an audio file";
inline constexpr std::string_view kCannotWriteReason = "its folder cannot be written to";
inline constexpr std::string_view kDiskFullReason = "the disk is full";
inline constexpr std::string_view kStalledReason = "the conversion stopped making progress";
inline constexpr std::string_view kInputGoneReason = "the file is no longer there";
inline constexpr std::string_view kInputUnreadableReason = "the file cannot be read";
inline constexpr std::string_view kConverterNotStartedReason = "ffmpeg could not be started";
inline constexpr std::string_view kOutputNotSavedReason = "the converted file could not be saved";
inline constexpr std::string_view kUnknownFormatReason = "its format is not known";
// A job an earlier host recorded as failed: its reason went with that host.
inline constexpr std::string_view kReasonUnknown = "it could not be converted";

// kReasonLineLimit bounds the converter's own line in a reason (bytes, before "…").
inline constexpr std::size_t kReasonLineLimit = 160;

// converterFailure judges a finished ffmpeg run by its exit status (0-255, or 128 + a signal)
// and the start of what it wrote to standard error: nullopt when its output can be trusted,
// else the reason. A status of 0 is not enough: ffmpeg ends with 0 when it could not write the
// end of its output (a full disk). The reason is one of the constants above, or "ffmpeg: " and
// the first line ffmpeg wrote: valid UTF-8, one line, at most kReasonLineLimit bytes of it, with
// a leading "<name>: " of `ownNames` (the input and output as ffmpeg was given them) left out.
std::optional<std::string> converterFailure(int status, std::string_view errors,
                                            std::initializer_list<std::string_view> ownNames = {});

// creationFailure: the reason for an error (an errno value) met creating the output beside the
// input: a folder that cannot be written to, a full disk, else the system's words for it.
std::string creationFailure(int code);

}  // namespace host
