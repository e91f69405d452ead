#include "provider/verification_pause.h"

#include <gtest/gtest.h>

namespace {

TEST(VerificationPause, ReadsOnlyAWholeNumberAboveZeroUpToThree) {
  struct Case {
    const char* name;
    std::vector<std::string> arguments;
    std::optional<double> pause;
  };
  const Case cases[] = {
      {"two", {"/p", "--verify-hold-callback", "2"}, 2.0},
      {"three", {"/p", "--verify-hold-callback", "3"}, 3.0},
      {"fraction", {"/p", "--verify-provider", "--verify-hold-callback", "0.25"}, 0.25},
      {"exponent", {"/p", "--verify-hold-callback", "1e0"}, 1.0},
      {"three and a half", {"/p", "--verify-hold-callback", "3.5"}, std::nullopt},
      {"zero", {"/p", "--verify-hold-callback", "0"}, std::nullopt},
      {"negative", {"/p", "--verify-hold-callback", "-1"}, std::nullopt},
      {"word", {"/p", "--verify-hold-callback", "two"}, std::nullopt},
      {"leading space", {"/p", "--verify-hold-callback", " 2"}, std::nullopt},
      {"trailing space", {"/p", "--verify-hold-callback", "2 "}, std::nullopt},
      {"trailing unit", {"/p", "--verify-hold-callback", "2s"}, std::nullopt},
      {"empty", {"/p", "--verify-hold-callback", ""}, std::nullopt},
      {"not a number", {"/p", "--verify-hold-callback", "nan"}, std::nullopt},
      {"infinite", {"/p", "--verify-hold-callback", "inf"}, std::nullopt},
      {"plus sign", {"/p", "--verify-hold-callback", "+2"}, 2.0},
      {"two signs", {"/p", "--verify-hold-callback", "+-1"}, std::nullopt},
      {"leading point", {"/p", "--verify-hold-callback", ".5"}, 0.5},
      {"trailing point", {"/p", "--verify-hold-callback", "2."}, 2.0},
      {"point alone", {"/p", "--verify-hold-callback", "."}, std::nullopt},
      {"signed exponent", {"/p", "--verify-hold-callback", "25e-1"}, 2.5},
      {"exponent without digits", {"/p", "--verify-hold-callback", "1e"}, std::nullopt},
      {"hexadecimal", {"/p", "--verify-hold-callback", "0x1p1"}, std::nullopt},
      {"decimal comma", {"/p", "--verify-hold-callback", "0,5"}, std::nullopt},
      {"too small for a double", {"/p", "--verify-hold-callback", "1e-320"}, std::nullopt},
      {"last argument", {"/p", "--verify-hold-callback"}, std::nullopt},
      {"absent", {"/p", "--verify-provider"}, std::nullopt},
      {"first occurrence counts",
       {"/p", "--verify-hold-callback", "x", "--verify-hold-callback", "1"},
       std::nullopt},
      {"program path counts as an argument", {"--verify-hold-callback", "1"}, 1.0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::optional<platform::Seconds> pause = provider::verificationPause(c.arguments);
    ASSERT_EQ(pause.has_value(), c.pause.has_value());
    if (pause) {
      EXPECT_DOUBLE_EQ(pause->count(), *c.pause);
    }
  }
}

}  // namespace
