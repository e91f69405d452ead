// The strict JSON rules where they go beyond the records' own tests (tests/exchange): the
// unsigned integer range and the writer's member order.
#include "platform/core/json.h"

#include <gtest/gtest.h>

#include <optional>

#include "support/test_support.h"

namespace test_support {
namespace {

using platform::Json;

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
