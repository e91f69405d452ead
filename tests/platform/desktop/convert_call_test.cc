// A Convert call's arguments as the bus service reads them (readConvertCall), on sealed messages
// built from byte programs: what the pasteboard fuzz target and its regression tests rely on.
#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/testing/convert_call_program.h"

namespace platform {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Texts = std::vector<std::string>;

// Program pieces: a text is its length byte and its bytes; an entry is its op byte and value.
Bytes text(const std::string& value) {
  Bytes bytes{static_cast<std::uint8_t>(value.size())};
  bytes.insert(bytes.end(), value.begin(), value.end());
  return bytes;
}
Bytes texts(const Texts& values) {
  Bytes bytes{static_cast<std::uint8_t>(values.size())};
  for (const auto& value : values) {
    const Bytes one = text(value);
    bytes.insert(bytes.end(), one.begin(), one.end());
  }
  return bytes;
}
Bytes join(std::initializer_list<Bytes> parts) {
  Bytes bytes;
  for (const Bytes& part : parts) bytes.insert(bytes.end(), part.begin(), part.end());
  return bytes;
}

constexpr std::uint8_t kFileUrlList = 0x00;      // "public.file-url" -> as
constexpr std::uint8_t kFilenamesList = 0x01;    // "NSFilenamesPboardType" -> as
constexpr std::uint8_t kFileUrlString = 0x04;    // "public.file-url" -> s
constexpr std::uint8_t kFilenamesNumber = 0x09;  // "NSFilenamesPboardType" -> i
constexpr std::uint8_t kEmptyFileUrlList = 0x1c;

TEST(ConvertCallTest, ReadsThePasteboardAndUserDataOfTheCall) {
  const struct {
    const char* name;
    Bytes program;
    std::optional<Texts> fileURLs;                  // nullopt: no entry list
    std::optional<std::optional<Texts>> filenames;  // outer nullopt: none; inner: not a list
    std::string errorName;
  } cases[] = {
      {"file URLs", join({text("mp3"), {kFileUrlList}, texts({"file:///a.wav", "https://x/"})}),
       Texts{"file:///a.wav"}, std::nullopt, ""},
      {"an empty list is a list", join({text("mp3"), {kEmptyFileUrlList}}), Texts{}, std::nullopt,
       ""},
      {"path list", join({text("mp3"), {kFilenamesList}, texts({"/a.wav", "b"})}), std::nullopt,
       Texts{"/a.wav", "b"}, ""},
      {"filenames of another kind", join({text("mp3"), {kFilenamesNumber, 1, 0, 0, 0}}),
       std::nullopt, std::optional<Texts>(), ""},
      {"file URLs of another kind", join({text("mp3"), {kFileUrlString}, text("file:///a")}),
       std::nullopt, std::nullopt, "org.freedesktop.DBus.Error.InvalidArgs"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const auto reading = testing::readConvertCallProgram(c.program);
    ASSERT_TRUE(reading);
    EXPECT_EQ(reading->errorName, c.errorName);
    if (!c.errorName.empty()) {
      EXPECT_LT(reading->result, 0);
      continue;
    }
    ASSERT_GE(reading->result, 0);
    EXPECT_EQ(reading->userData, "mp3");
    const auto urls = reading->pasteboard.readFileURLs();
    ASSERT_EQ(urls.has_value(), c.fileURLs.has_value());
    if (urls) {
      Texts read;
      for (const auto& url : *urls) read.push_back(url.text());
      EXPECT_EQ(read, *c.fileURLs);
    }
    const auto filenames = reading->pasteboard.filenames();
    ASSERT_EQ(filenames.has_value(), c.filenames.has_value());
    if (filenames) {
      EXPECT_EQ(filenames->paths, *c.filenames);
    }
  }
}

}  // namespace
}  // namespace platform
