#include "entry/verification_harness.h"

#include <gtest/gtest.h>

#include <fstream>

#include "platform/testing/fake_desktop.h"
#include "support/temp_directory.h"

namespace {

namespace fs = std::filesystem;
using platform::Seconds;
using platform::testing::FakeDesktop;

// RecordingProvider answers convert with a scripted error and records what it was given.
class RecordingProvider final : public platform::ServicesProvider {
 public:
  void convert(platform::Pasteboard& pasteboard, const std::optional<std::string>& userData,
               std::optional<std::string>& error) override {
    given = &pasteboard;
    urls = pasteboard.readFileURLs();
    givenUserData = userData;
    if (failure) error = *failure;
  }
  std::optional<std::string> failure;
  std::optional<std::vector<platform::Url>> urls;
  std::optional<std::string> givenUserData;
  platform::Pasteboard* given = nullptr;
};

struct ExitRecord {
  int status;
  platform::MonotonicTime at;
};

class Harness : public ::testing::Test {
 protected:
  void SetUp() override {
    temporary_.emplace("harness");
    root_ = temporary_->path();
  }
  void TearDown() override { temporary_.reset(); }

  std::shared_ptr<platform::Timer> runHarness(std::vector<std::string> files = {"/m/a.wav"}) {
    std::vector<std::string> args{"/bin/provider", "--verify-provider", root_.string(), "mp3"};
    args.insert(args.end(), files.begin(), files.end());
    desktop_.setArguments(args);
    // The process ends at the first exit: later ticks of the double are not recorded.
    const entry::ProcessExit processExit{.writeStandardError =
                                             [this](std::string_view text) {
                                               if (exits_.empty()) errors_ += text;
                                             },
                                         .exit =
                                             [this](int status) {
                                               if (exits_.empty())
                                                 exits_.push_back({status, desktop_.now()});
                                             }};
    return entry::runVerificationHarness(desktop_, provider_, root_, args, processExit);
  }
  // firstExitAfter runs the virtual clock for `seconds` and gives the first exit, if any.
  std::optional<ExitRecord> firstExitAfter(double seconds) {
    desktop_.runUntil(desktop_.now() + Seconds(seconds));
    if (exits_.empty()) return std::nullopt;
    return exits_.front();
  }
  double since(platform::MonotonicTime start, const ExitRecord& exit) const {
    return (exit.at - start).count();
  }

  FakeDesktop desktop_;
  RecordingProvider provider_;
  std::optional<test_support::TempDirectory> temporary_;  // a fresh one for each SetUp
  fs::path root_;
  std::string errors_;
  std::vector<ExitRecord> exits_;
};

TEST_F(Harness, HandsTheFilesToConvertOnAFreshPasteboardAndClearsItAfterwards) {
  const std::string odd = std::string("/music/it's #1? 100%\n\xff.wav");
  const auto timer = runHarness({odd, "relative.wav"});
  ASSERT_TRUE(timer);
  ASSERT_TRUE(provider_.urls);
  EXPECT_EQ(*provider_.urls,
            (std::vector<platform::Url>{
                platform::Url::fromFilePath(odd),
                platform::Url::fromFilePath(fs::current_path() / "relative.wav")}));
  EXPECT_EQ((*provider_.urls)[0].filePath(), fs::path(odd));
  EXPECT_EQ(provider_.givenUserData, "mp3");
  EXPECT_EQ(provider_.given->readFileURLs(), std::nullopt) << "cleared after convert";

  EXPECT_TRUE(errors_.empty());
  EXPECT_TRUE(exits_.empty());
  timer->invalidate();
}

TEST_F(Harness, FailedConvertEndsWithStatusOneAndTheSentence) {
  provider_.failure = "Choose local audio files in Finder.";
  EXPECT_EQ(runHarness(), nullptr);
  EXPECT_EQ(errors_, "Choose local audio files in Finder.\n");
  ASSERT_EQ(exits_.size(), 1u);
  EXPECT_EQ(exits_[0].status, 1);
}

TEST_F(Harness, NoSignEndsWithStatusTwoAtTheFirstTickAfterSeventySeconds) {
  const platform::MonotonicTime start = desktop_.now();
  const auto timer = runHarness();
  EXPECT_EQ(firstExitAfter(69.95), std::nullopt);
  const std::optional<ExitRecord> exit = firstExitAfter(1.0);
  ASSERT_TRUE(exit);
  EXPECT_EQ(exit->status, 2);
  EXPECT_GT(since(start, *exit), 70.0);
  EXPECT_LE(since(start, *exit), 70.1 + 1e-6);
  EXPECT_EQ(errors_, "Packaged provider timed out.\n");
  timer->invalidate();
}

TEST_F(Harness, SignEndsWithStatusZero) {
  struct Case {
    const char* name;
    double appearsAfter;  // seconds after the entry returned; negative: before the run
    bool directory;
  };
  const Case cases[] = {
      {"left over from an earlier run", -1, false},
      {"just before the deadline", 69.9, false},
      {"a directory", 5, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TearDown();
    SetUp();
    exits_.clear();
    errors_.clear();
    const fs::path sign = root_ / "packaged-inbox.json";
    const auto makeSign = [&] {
      if (c.directory) {
        fs::create_directory(sign);
      } else {
        std::ofstream(sign) << "{}";
      }
    };
    if (c.appearsAfter < 0) makeSign();
    const platform::MonotonicTime start = desktop_.now();
    const auto timer = runHarness();
    if (c.appearsAfter >= 0) {
      EXPECT_EQ(firstExitAfter(c.appearsAfter), std::nullopt);
      makeSign();
    }
    const std::optional<ExitRecord> exit = firstExitAfter(0.15);
    ASSERT_TRUE(exit);
    EXPECT_EQ(exit->status, 0);
    EXPECT_LE(since(start, *exit), std::max(c.appearsAfter, 0.0) + 0.1 + 1e-6);
    EXPECT_EQ(errors_, "");
    timer->invalidate();
  }
}

}  // namespace
