// What the user reads when a request has ended: the notification's texts, look and items.
#include "host/request_outcome.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using host::FailedFile;
using host::RequestOutcome;
using platform::Url;

TEST(NotificationForTest, SaysHowManyWereConvertedAndWhyEachOtherFailed) {
  const std::vector<Url> outputs{Url::fromFilePath("/music/a.mp3"),
                                 Url::fromFilePath("/music/b c.mp3")};
  const FailedFile notes{"notes.wav", "not an audio file"};
  const FailedFile take{"take \uFFFD.wav", "the disk is full"};
  const struct {
    const char* name;
    RequestOutcome outcome;
    std::string summary;
    std::string body;
    bool failure;
  } cases[] = {
      {"one file",
       {{}, "mp3", 1, {}, 0, {outputs[0]}},
       "Converted to MP3",
       "Tonebrook converted 1 file.",
       false},
      {"seven files, in upper case",
       {{}, "aac", 7, {}, 0, outputs},
       "Converted to AAC",
       "Tonebrook converted 7 files.",
       false},
      {"six of seven",
       {{}, "mp3", 6, {notes}, 0, outputs},
       "Converted 6 of 7 files to MP3",
       "\u201cnotes.wav\u201d: not an audio file",
       true},
      {"none of one",
       {{}, "mp3", 0, {notes}, 0, {}},
       "Could not convert to MP3",
       "\u201cnotes.wav\u201d: not an audio file",
       true},
      {"none of three, a line each",
       {{}, "flac", 0, {notes, take, notes}, 0, {}},
       "Could not convert 3 files to FLAC",
       "\u201cnotes.wav\u201d: not an audio file\n\u201ctake \uFFFD.wav\u201d: the disk is full\n"
       "\u201cnotes.wav\u201d: not an audio file",
       true},
      {"names lost with their request",
       {{}, "", 1, {}, 2, {outputs[0]}},
       "Converted 1 of 3 files",
       "2 files could not be converted.",
       true},
      {"the only file lost",
       {{}, "", 0, {}, 1, {}},
       "Could not convert the file",
       "1 file could not be converted.",
       true},
      {"named and lost",
       {{}, "ogg", 0, {notes}, 1, {}},
       "Could not convert 2 files to OGG",
       "\u201cnotes.wav\u201d: not an audio file\n1 file could not be converted.",
       true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const platform::DesktopNotification notification = host::notificationFor(c.outcome);
    EXPECT_EQ(notification.summary, c.summary);
    EXPECT_EQ(notification.body, c.body);
    EXPECT_EQ(notification.failure, c.failure);
    EXPECT_EQ(notification.items, c.outcome.outputs);
  }
}

}  // namespace
