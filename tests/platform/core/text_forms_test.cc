// URLs, identifiers, Base64, canonical composition and digests: the text forms that records use.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "platform/core/base64.h"
#include "platform/core/digest.h"
#include "platform/core/log.h"
#include "platform/core/unicode.h"
#include "platform/core/url.h"
#include "platform/core/uuid.h"
#include "support/test_support.h"

namespace test_support {
namespace {

using platform::Url;

TEST(UrlTest, ParseAcceptsOnlyAbsoluteUrls) {
  struct Case {
    const char* text;
    bool valid;
  };
  const Case cases[] = {
      {"file:///Users/example/Song%20One.wav", true},
      {"file://localhost/a.wav", true},
      {"FILE:///a.wav", true},
      {"https://example.com/a?b#c", true},
      {"file:/a.wav", true},
      {"/Users/example/a.wav", false},  // no scheme
      {"a.wav", false},                 // relative
      {"file:///a b.wav", false},       // a raw space
      {"", false},
      {"file:///a%zz.wav", false},  // broken escape
      {"file:///a%2", false},       // truncated escapes
      {"file:///a%", false},
      {"file:", true},  // an empty path
      {"a+b.c-d:x/y", true},
      {"1abc:x", false},  // a scheme starts with a letter
      {":x", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    const std::optional<Url> url = Url::parse(c.text);
    EXPECT_EQ(url.has_value(), c.valid);
    EXPECT_EQ(Url::isValid(c.text), c.valid);
    if (url) {
      EXPECT_EQ(url->text(), c.text);
    }
  }
}

TEST(UrlTest, SchemeHostAndLocality) {
  struct Case {
    const char* text;
    const char* scheme;
    std::optional<std::string> host;
    bool local;
  };
  const Case cases[] = {
      {"file:///Users/example/a.wav", "file", "", true},
      {"file://localhost/Users/example/a.wav", "file", "localhost", true},
      {"File:///a.wav", "file", "", true},
      {"file:/a.wav", "file", std::nullopt, true},
      {"file://LOCALHOST/a.wav", "file", "LOCALHOST", false},
      {"file://server/share/a.wav", "file", "server", false},
      {"http://localhost/a.wav", "http", "localhost", false},
      {"smb://server/a.wav", "smb", "server", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    const Url url = Url::parse(c.text).value();
    EXPECT_EQ(url.scheme(), c.scheme);
    EXPECT_EQ(url.host(), c.host);
    EXPECT_EQ(url.isLocalFile(), c.local);
    EXPECT_EQ(url.filePath().has_value(), c.local);
  }
}

TEST(UrlTest, FilePathRoundTripsEveryByte) {
  struct Case {
    const char* name;
    std::string path;
    const char* text;
  };
  const Case cases[] = {
      {"space", "/Users/example/Music/Song One.wav", "file:///Users/example/Music/Song%20One.wav"},
      {"reserved", "/a#b?c%d;e", "file:///a%23b%3Fc%25d%3Be"},
      {"utf8", "/caf\xc3\xa9.wav", "file:///caf%C3%A9.wav"},
      {"not utf8", "/bad\xff\n.wav", "file:///bad%FF%0A.wav"},
      {"directory", "/a/b/", "file:///a/b/"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Url url = Url::fromFilePath(c.path);
    EXPECT_EQ(url.text(), c.text);
    ASSERT_TRUE(Url::parse(url.text()));
    EXPECT_EQ(url.filePath(), std::filesystem::path(c.path));
  }
}

TEST(UrlTest, FilePathRefusesWhatNoPathCanHold) {
  for (const char* text : {"file:///a%00b", "file://localhost", "file:a.wav", "file://server/a"}) {
    SCOPED_TRACE(text);
    EXPECT_EQ(Url::parse(text).value().filePath(), std::nullopt);
  }
  EXPECT_EQ(Url::parse("file:///a.wav?x#y").value().filePath(), std::filesystem::path("/a.wav"));
}

TEST(UuidTest, RandomIsVersionFourInUpperCase) {
  const platform::Uuid id = platform::Uuid::random();
  const std::string text = id.text();
  ASSERT_EQ(text.size(), 36u);
  EXPECT_EQ(text[14], '4');
  EXPECT_NE(std::string("89AB").find(text[19]), std::string::npos);
  EXPECT_EQ(text.find_first_of("abcdef"), std::string::npos);
  EXPECT_NE(id, platform::Uuid::random());
  EXPECT_EQ(platform::Uuid::parse(text), id);
}

TEST(UuidTest, ParseTakesEitherCaseAndNothingElse) {
  const auto upper = platform::Uuid::parse("0F1E2D3C-4B5A-4968-8776-A5B4C3D2E1F0");
  ASSERT_TRUE(upper);
  EXPECT_EQ(platform::Uuid::parse("0f1e2d3c-4b5a-4968-8776-a5b4c3d2e1f0"), upper);
  EXPECT_EQ(upper->text(), "0F1E2D3C-4B5A-4968-8776-A5B4C3D2E1F0");
  const std::string invalid[] = {"",
                                 "0F1E2D3C4B5A49688776A5B4C3D2E1F0",
                                 "{0F1E2D3C-4B5A-4968-8776-A5B4C3D2E1F0}",
                                 "0F1E2D3C-4B5A-4968-8776-A5B4C3D2E1F",
                                 "0F1E2D3C-4B5A-4968-8776-A5B4C3D2E1FG",
                                 " 0F1E2D3C-4B5A-4968-8776-A5B4C3D2E1F0",
                                 "0F1E2D3C-4B5A-4968-8776-A5B4C3D2E1F0 ",
                                 std::string("0F1E2D3C-4B5A-4968-8776-A5B4C3D2E1F\0", 36)};
  for (const std::string& text : invalid) {
    SCOPED_TRACE(text);
    EXPECT_EQ(platform::Uuid::parse(text), std::nullopt);
  }
}

TEST(Base64Test, StandardPaddedForm) {
  struct Case {
    std::string bytes;
    const char* text;
  };
  const Case cases[] = {{"", ""},
                        {"f", "Zg=="},
                        {"fo", "Zm8="},
                        {"foo", "Zm9v"},
                        {"foob", "Zm9vYg=="},
                        {"fooba", "Zm9vYmE="},
                        {"foobar", "Zm9vYmFy"},
                        {"\xfb\xff", "+/8="}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    const std::vector<std::uint8_t> bytes(c.bytes.begin(), c.bytes.end());
    EXPECT_EQ(platform::base64Encode(bytes), c.text);
    EXPECT_EQ(platform::base64Decode(c.text), bytes);
  }
}

TEST(Base64Test, DecoderIsStrict) {
  for (const char* text : {"Zg", "Zg=", "Zm9", "Z===", "====", "Zg==Zg==", "Zm=v", "Zm9v\n",
                           " Zm9v", "Zm9v ", "Zh==", "Zm9=", "Zm-v", "Zm_v", "Zm9v===="}) {
    SCOPED_TRACE(text);
    EXPECT_EQ(platform::base64Decode(text), std::nullopt);
  }
}

TEST(Base64Test, LargeInputSpansEncodeChunks) {
  std::vector<std::uint8_t> bytes(3 * 1024 * 1024 + 7);
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>(i * 31);
  const std::string text = platform::base64Encode(bytes);
  EXPECT_EQ(text.size(), (bytes.size() + 2) / 3 * 4);
  EXPECT_EQ(platform::base64Decode(text), bytes);
}

TEST(UnicodeTest, CanonicalComposition) {
  EXPECT_EQ(platform::canonicalComposition("Cafe\xcc\x81"), "Caf\xc3\xa9");  // NFD -> NFC
  EXPECT_EQ(platform::canonicalComposition("Caf\xc3\xa9"), "Caf\xc3\xa9");
  EXPECT_EQ(platform::canonicalComposition(""), "");
  // Compatibility forms stay apart: canonical equivalence only.
  EXPECT_EQ(platform::canonicalComposition("\xef\xac\x81"), "\xef\xac\x81");  // U+FB01 ligature
  for (const char* bad : {"\xff", "a\xc3", "\xed\xa0\x80", "\xc0\xaf"}) {
    EXPECT_EQ(platform::canonicalComposition(bad), std::nullopt);
  }
}

TEST(UnicodeTest, ValidUtf8ReplacesWhatIsNot) {
  const std::string replacement = "\xef\xbf\xbd";
  const struct {
    const char* name;
    std::string text;
    std::string expected;
  } cases[] = {
      {"valid text unchanged", "Caf\xc3\xa9 \xe2\x80\x93 \xf0\x9f\x8e\xb5",
       "Caf\xc3\xa9 \xe2\x80\x93 \xf0\x9f\x8e\xb5"},
      {"empty", "", ""},
      {"a Latin-1 byte", "caf\xe9.wav", "caf" + replacement + ".wav"},
      {"a truncated sequence at the end", "a\xc3", "a" + replacement},
      {"a surrogate", "\xed\xa0\x80", replacement + replacement + replacement},
      {"an overlong slash", "\xc0\xaf", replacement + replacement},
      {"beyond U+10FFFF", "\xf4\x90\x80\x80",
       replacement + replacement + replacement + replacement},
      {"a stray continuation byte",
       "a\x80"
       "b",
       "a" + replacement + "b"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string valid = platform::validUtf8(c.text);
    EXPECT_EQ(valid, c.expected);
    EXPECT_TRUE(platform::canonicalComposition(valid).has_value());
  }
}

TEST(LogLineTest, OneLineOfUtf8WithTheRequest) {
  const auto id = platform::Uuid::parse("0A1B2C3D-4E5F-4061-8293-A4B5C6D7E8F9");
  EXPECT_EQ(platform::logLine("Tonebrook cannot read \xe2\x80\x9c"
                              "caf\xe9.wav\xe2\x80\x9d.",
                              id),
            "Tonebrook cannot read \xe2\x80\x9c"
            "caf\xef\xbf\xbd.wav\xe2\x80\x9d. (request "
            "0A1B2C3D-4E5F-4061-8293-A4B5C6D7E8F9)");
  EXPECT_EQ(platform::logLine("it's\n\"a\"\t\x01\x7f", std::nullopt), "it's\\n\"a\"\\t\\x01\\x7f");
}

TEST(DigestTest, KnownVectorsAndChunkedFiles) {
  EXPECT_EQ(platform::sha256Hex(""),
            "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  EXPECT_EQ(platform::sha256Hex("abc"),
            "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  TempDirectory dir;
  std::string large(3 * 1024 * 1024 + 5, '\0');
  for (std::size_t i = 0; i < large.size(); ++i) large[i] = static_cast<char>(i % 251);
  writeText(dir / "large", large);
  EXPECT_EQ(platform::sha256HexOfFile(dir / "large"), platform::sha256Hex(large));
  EXPECT_ERRNO(platform::sha256HexOfFile(dir / "missing"), ENOENT);
}

}  // namespace
}  // namespace test_support
