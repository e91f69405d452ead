#include "host/conversion.h"

#include <gtest/gtest.h>

#include <fstream>

#include "support/temp_directory.h"
#include "tests/host/wav.h"

namespace {

namespace fs = std::filesystem;
using host_test::writeSilentWav;

class ScratchDirectory : public ::testing::Test {
 protected:
  fs::path touch(const std::string& name) {
    std::ofstream(directory_ / name) << "x";
    return directory_ / name;
  }
  test_support::TempDirectory temporary_{"host-conversion"};
  fs::path directory_ = temporary_.path();
};

using FreeOutputLocation = ScratchDirectory;

TEST_F(FreeOutputLocation, NumbersPastEveryExistingFile) {
  fs::path input = touch("take one.wav");
  EXPECT_EQ(host::freeOutputLocation(input, "mp3"), directory_ / "take one.mp3");
  touch("take one.mp3");
  touch("take one 2.mp3");
  EXPECT_EQ(host::freeOutputLocation(input, "mp3"), directory_ / "take one 3.mp3");
  // The input itself is never a free location, even in its own format.
  EXPECT_EQ(host::freeOutputLocation(input, "wav"), directory_ / "take one 2.wav");
}

TEST_F(FreeOutputLocation, DanglingLinkCountsAsTaken) {
  fs::path input = touch("a.wav");
  fs::create_symlink(directory_ / "nowhere", directory_ / "a.flac");
  EXPECT_EQ(host::freeOutputLocation(input, "flac"), directory_ / "a 2.flac");
}

// Only a second link under a name the host itself would have chosen for that input is the
// output a gone host placed; anything else means "convert it again".
TEST_F(ScratchDirectory, PlacedOutputIsOnlyALinkUnderAnOutputNameOfTheInput) {
  const fs::path input = touch("take.wav");
  const struct {
    const char* name;
    const char* linkedAs;  // nullptr: the hidden file has no second name
    bool symbolic;
    bool found;
  } cases[] = {
      {"the first name", "take.mp3", false, true},
      {"a numbered name", "take 12.mp3", false, true},
      {"no second name", nullptr, false, false},
      {"another input's name", "other.mp3", false, false},
      {"a name that only looks numbered", "take 1a.mp3", false, false},
      {"a symbolic link", "take.mp3", true, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const fs::path hidden = host::hiddenOutputLocation(input, "mp3", "JOB");
    touch(hidden.filename().string());
    if (c.linkedAs != nullptr && c.symbolic) {
      fs::create_symlink(hidden, directory_ / c.linkedAs);
    } else if (c.linkedAs != nullptr) {
      fs::create_hard_link(hidden, directory_ / c.linkedAs);
    }
    const std::optional<fs::path> placed = host::placedOutput(input, "mp3", "JOB");
    EXPECT_EQ(placed, c.found ? std::optional(directory_ / c.linkedAs) : std::nullopt);
    host::dropHiddenName(input, "mp3", "JOB");
    EXPECT_FALSE(fs::exists(hidden));
    if (c.linkedAs != nullptr) fs::remove(directory_ / c.linkedAs);
  }
}

TEST(OutputFormat, KnowsTheFiveFormatsOnly) {
  EXPECT_EQ(host::outputFormat("aac")->extension, "m4a");
  for (const char* format : {"wav", "mp3", "flac", "ogg"}) {
    SCOPED_TRACE(format);
    EXPECT_EQ(host::outputFormat(format)->extension, format);
  }
  EXPECT_FALSE(host::outputFormat("MP3"));
  EXPECT_FALSE(host::outputFormat(""));
}

TEST_F(ScratchDirectory, ConvertFileNeverOverwrites) {
  if (!host::ffmpegAvailable()) GTEST_SKIP() << "ffmpeg is not installed";
  // Not audio: ffmpeg fails, and the file that already holds the first name stays as it was.
  fs::path input = touch("noise.wav");
  std::ofstream(directory_ / "noise.mp3") << "keep";
  EXPECT_FALSE(host::convertFile(input, *host::outputFormat("mp3")));
  std::ifstream kept(directory_ / "noise.mp3");
  std::string content;
  std::getline(kept, content);
  EXPECT_EQ(content, "keep");
}

TEST_F(ScratchDirectory, ConvertFileWritesBesideTheInput) {
  if (!host::ffmpegAvailable()) GTEST_SKIP() << "ffmpeg is not installed";
  fs::path input = directory_ / "tone.wav";
  writeSilentWav(input);
  std::optional<fs::path> output = host::convertFile(input, *host::outputFormat("flac"));
  ASSERT_TRUE(output);
  EXPECT_EQ(*output, directory_ / "tone.flac");
  EXPECT_GT(fs::file_size(*output), 0u);
}

TEST_F(ScratchDirectory, ConvertFileTakesNamesAsTheyAre) {
  if (!host::ffmpegAvailable()) GTEST_SKIP() << "ffmpeg is not installed";
  // Quotes, substitutions, backslashes and a protocol-like name are plain file names here.
  for (const std::string stem : {"it's $(x)`y` \\z", "concat:a|b"}) {
    SCOPED_TRACE(stem);
    fs::path input = directory_ / (stem + ".wav");
    writeSilentWav(input);
    std::optional<fs::path> output = host::convertFile(input, *host::outputFormat("ogg"));
    ASSERT_TRUE(output);
    EXPECT_EQ(*output, directory_ / (stem + ".ogg"));
    EXPECT_GT(fs::file_size(*output), 0u);
  }
}

}  // namespace
