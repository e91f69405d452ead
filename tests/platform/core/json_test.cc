// The strict JSON rules where they go beyond the records' own tests (tests/exchange): the
// unsigned integer range and the writer's member order.
#include "platform/core/json.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "platform/core/error.h"
#include "support/test_support.h"

namespace test_support {
namespace {

using platform::Json;

// Every record nests a few levels at most; a deeper document is refused without being parsed
// whole (a 200 KB file of nested arrays would otherwise cost a parse each time it is read).
TEST(JsonTest, NestingBeyondTheLimitIsRefused) {
  const auto nested = [](std::size_t depth, const std::string& open, const std::string& close) {
    std::string document;
    for (std::size_t level = 0; level < depth; ++level) document += open;
    document += "1";
    for (std::size_t level = 0; level < depth; ++level) document += close;
    return document;
  };
  const struct {
    const char* name;
    std::string document;
    bool accepted;
  } cases[] = {
      {"arrays at the limit", nested(platform::kJsonDepthLimit, "[", "]"), true},
      {"objects at the limit", nested(platform::kJsonDepthLimit, "{\"a\":", "}"), true},
      {"arrays one deeper", nested(platform::kJsonDepthLimit + 1, "[", "]"), false},
      {"objects one deeper", nested(platform::kJsonDepthLimit + 1, "{\"a\":", "}"), false},
      {"100,000 arrays", nested(100'000, "[", "]"), false},
      {"100,000 arrays, never closed", std::string(100'000, '['), false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.accepted) {
      EXPECT_NO_THROW(platform::parseStrictJson(c.document));
    } else {
      try {
        platform::parseStrictJson(c.document);
        ADD_FAILURE() << "accepted";
      } catch (const platform::Error& error) {
        EXPECT_EQ(error.domain(), platform::kJsonDomain);
      }
    }
  }
}

TEST(JsonTest, UnsignedReading) {
  struct Case {
    const char* document;
    std::optional<std::uint64_t> value;
  };
  const Case cases[] = {
      {"0", 0},
      {"1", 1},
      {"1.0", 1},  // a zero fraction is still the integer
      {"18446744073709551615", UINT64_MAX},
      {"9223372036854775808", 9223372036854775808u},
      {"1e19", 10000000000000000000u},
      {"-1", std::nullopt},
      {"1.5", std::nullopt},
      {"18446744073709551616", std::nullopt},
      {"1e20", std::nullopt},
      {"\"1\"", std::nullopt},
      {"true", std::nullopt},
      {"null", std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.document);
    EXPECT_EQ(platform::strictUnsigned(platform::parseStrictJson(c.document)), c.value);
  }
}

TEST(JsonTest, OrderedDocumentsKeepTheirMemberOrder) {
  const platform::OrderedJson ordered = {{"z", "a/b"}, {"a", 1}};
  EXPECT_EQ(platform::encodeJson(ordered), R"({"z":"a\/b","a":1})");
  const Json sorted = {{"z", "a/b"}, {"a", 1}};
  EXPECT_EQ(platform::encodeJson(sorted), R"({"a":1,"z":"a\/b"})");
  EXPECT_ERROR_DOMAIN(platform::encodeJson(platform::OrderedJson("bad\xff")),
                      platform::kJsonEncodingDomain);
}

}  // namespace
}  // namespace test_support
