// The JSON form's reading and writing rules where a plain JSON library would be lax.
#include "exchange/json_form.h"

#include <gtest/gtest.h>

#include <string>

#include "support/test_support.h"

namespace test_support {
namespace {

namespace json_form = FinderConversion::json_form;
using json_form::Json;

TEST(JsonFormTest, IntegerReading) {
  struct Case {
    const char* document;
    std::optional<std::int64_t> value;
  };
  const Case cases[] = {
      {"1", 1},
      {"-7", -7},
      {"1.0", 1},  // a zero fraction is still the integer
      {"1e0", 1},
      {"9223372036854775807", INT64_MAX},
      {"-9223372036854775808", INT64_MIN},
      {"1.5", std::nullopt},  // never truncated
      {"9223372036854775808", std::nullopt},
      {"1e19", std::nullopt},
      {"-1e300", std::nullopt},
      {"\"1\"", std::nullopt},
      {"true", std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.document);
    const Json value = json_form::parseDocument(c.document);
    if (c.value) {
      EXPECT_EQ(json_form::integer(value, "version"), *c.value);
    } else {
      EXPECT_ERROR_DOMAIN(json_form::integer(value, "version"), platform::kJsonDomain);
    }
  }
}

TEST(JsonFormTest, DocumentsThatAreRefused) {
  const std::string cases[] = {
      "",
      "{",
      "{} {}",
      "{\"a\":1,\"a\":2}",          // duplicate member
      "{\"x\":{\"a\":1,\"a\":1}}",  // duplicate inside a nested object
      "[{\"a\":1},{\"a\":1,\"a\":1}]",
      "\"caf\xe9\"",       // Latin-1, not UTF-8
      "\"\xed\xa0\x80\"",  // an encoded surrogate
      "{\"a\":1}\n{\"b\":2}",
  };
  for (const std::string& document : cases) {
    SCOPED_TRACE(document);
    EXPECT_ERROR_DOMAIN(json_form::parseDocument(document), platform::kJsonDomain);
  }
  // The same member name in sibling objects is not a duplicate; white space is fine.
  EXPECT_NO_THROW(json_form::parseDocument(" [{\"a\":1},{\"a\":2}] \n"));
}

TEST(JsonFormTest, MembersNullAndKinds) {
  const Json object = json_form::parseDocument(
      "{\"present\":\"x\",\"nothing\":null,\"map\":{\"k\":\"v\"},\"bad\":{\"k\":1}}");
  EXPECT_EQ(json_form::optionalMember(object, "nothing"), nullptr);
  EXPECT_EQ(json_form::optionalMember(object, "missing"), nullptr);
  EXPECT_NE(json_form::optionalMember(object, "present"), nullptr);
  EXPECT_ERROR_DOMAIN(json_form::requiredMember(object, "nothing"), platform::kJsonDomain);
  EXPECT_ERROR_DOMAIN(json_form::requiredMember(object, "missing"), platform::kJsonDomain);
  EXPECT_EQ(json_form::textMap(object.at("map"), "map"), (FinderConversion::TextMap{{"k", "v"}}));
  EXPECT_ERROR_DOMAIN(json_form::textMap(object.at("bad"), "bad"), platform::kJsonDomain);
  EXPECT_ERROR_DOMAIN(json_form::boolean(Json(0), "accepted"), platform::kJsonDomain);
  EXPECT_ERROR_DOMAIN(json_form::text(Json(1), "message"), platform::kJsonDomain);
}

TEST(JsonFormTest, WritingIsCompactWithEscapedSlashesAndPlainUtf8) {
  const Json value = {{"a", "x/y"}, {"b", {1, 2}}, {"c", "caf\xc3\xa9 \xe2\x80\x93 \"q\""}};
  EXPECT_EQ(json_form::dumpDocument(value),
            "{\"a\":\"x\\/y\",\"b\":[1,2],\"c\":\"caf\xc3\xa9 \xe2\x80\x93 \\\"q\\\"\"}");
  EXPECT_EQ(json_form::parseDocument(json_form::dumpDocument(value)), value);
  EXPECT_ERROR_DOMAIN(json_form::dumpDocument(Json("bad\xff")), platform::kJsonEncodingDomain);
  EXPECT_ERROR_DOMAIN(json_form::dumpDocument(Json{{"k\xc3", "v"}}), platform::kJsonEncodingDomain);
}

}  // namespace
}  // namespace test_support
