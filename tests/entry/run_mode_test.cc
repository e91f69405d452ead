#include "entry/run_mode.h"

#include <gtest/gtest.h>

namespace {

TEST(RunMode, OnlyArgumentOneWithEnoughArgumentsSelectsAMode) {
  struct Case {
    const char* name;
    std::vector<std::string> args;
    bool verification;
    bool liveVerification;
  };
  const Case cases[] = {
      {"packaged with one file", {"p", "--verify-provider", "root", "mp3", "a.wav"}, true, false},
      {"packaged with two files", {"p", "--verify-provider", "r", "mp3", "a", "b"}, true, false},
      {"packaged without a file", {"p", "--verify-provider", "root", "mp3"}, false, false},
      {"live", {"p", "--verify-live-provider", "root", "port"}, false, true},
      {"live with more", {"p", "--verify-live-provider", "r", "port", "x"}, false, true},
      {"live without a port", {"p", "--verify-live-provider", "root"}, false, false},
      {"mode word as argument 2", {"p", "x", "--verify-provider", "r", "mp3", "a"}, false, false},
      {"no arguments at all", {}, false, false},
      {"program path only", {"p"}, false, false},
      {"case matters", {"p", "--Verify-Provider", "r", "mp3", "a"}, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const entry::RunMode mode = entry::runMode(c.args);
    EXPECT_EQ(mode.verification, c.verification);
    EXPECT_EQ(mode.liveVerification, c.liveVerification);
  }
}

TEST(RunMode, RelativePathsCountFromTheCurrentDirectoryAndStayAsGiven) {
  EXPECT_EQ(entry::fileLocation("/a/../b"), std::filesystem::path("/a/../b"));
  EXPECT_EQ(entry::fileLocation("x/./y"), std::filesystem::current_path() / "x/./y");
}

}  // namespace
