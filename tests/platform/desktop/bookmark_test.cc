// Bookmark data, format 1: made for existing local items, resolved by the path it records.
#include "platform/linux/bookmark.h"

#include <gtest/gtest.h>

#include <string>

#include "support/test_support.h"

namespace test_support {
namespace {

using platform::Url;

std::vector<std::uint8_t> bytesOf(const std::string& text) {
  return std::vector<std::uint8_t>(text.begin(), text.end());
}

TEST(BookmarkTest, MadeForAFileOrDirectoryAndResolvedToItsLocation) {
  TempDirectory dir;
  std::filesystem::create_directory(dir / "Tonebrook.app");
  writeText(dir / "Song One.wav", "x");
  for (const char* name : {"Tonebrook.app", "Song One.wav"}) {
    SCOPED_TRACE(name);
    const Url location = Url::fromFilePath(dir / name);
    const std::vector<std::uint8_t> data = platform::makeBookmark(location);
    const std::string text(data.begin(), data.end());
    EXPECT_EQ(text.rfind("{\"bookmark\":1,", 0), 0u) << text;
    EXPECT_EQ(text.find(' '), std::string::npos) << text;
    EXPECT_EQ(platform::resolveBookmark(data), location);
  }
}

TEST(BookmarkTest, AStaleButResolvableBookmarkIsUsed) {
  TempDirectory dir;
  writeText(dir / "a.wav", "x");
  const Url location = Url::fromFilePath(dir / "a.wav");
  const std::vector<std::uint8_t> data = platform::makeBookmark(location);
  std::filesystem::remove(dir / "a.wav");
  writeText(dir / "other", "y");  // keeps the old inode from being reused at once
  writeText(dir / "a.wav", "new item, new inode");
  EXPECT_EQ(platform::resolveBookmark(data), location);
}

TEST(BookmarkTest, NothingToMakeOrResolveIsABookmarkError) {
  TempDirectory dir;
  writeText(dir / "a.wav", "x");
  std::vector<std::uint8_t> data = platform::makeBookmark(Url::fromFilePath(dir / "a.wav"));
  std::filesystem::remove(dir / "a.wav");
  EXPECT_ERROR_DOMAIN(platform::resolveBookmark(data), platform::kBookmarkDomain);
  EXPECT_ERROR_DOMAIN(platform::makeBookmark(Url::fromFilePath(dir / "a.wav")),
                      platform::kBookmarkDomain);
  EXPECT_ERROR_DOMAIN(platform::makeBookmark(Url::parse("https://example.com/a.wav").value()),
                      platform::kBookmarkDomain);
  makeFifo(dir / "fifo");
  EXPECT_ERROR_DOMAIN(platform::makeBookmark(Url::fromFilePath(dir / "fifo")),
                      platform::kBookmarkDomain);

  const std::string root = Url::fromFilePath(dir.path()).text();
  for (const std::string& text :
       {std::string(), std::string("not json"), std::string("[]"),
        "{\"bookmark\":2,\"url\":\"" + root + "\",\"device\":1,\"inode\":1}",
        "{\"bookmark\":1,\"url\":\"" + root + "\"}",
        std::string("{\"bookmark\":1,\"url\":\"https://example.com/\",\"device\":1,\"inode\":1}"),
        std::string("{\"bookmark\":1,\"url\":\"/tmp\",\"device\":1,\"inode\":1}")}) {
    SCOPED_TRACE(text);
    EXPECT_ERROR_DOMAIN(platform::resolveBookmark(bytesOf(text)), platform::kBookmarkDomain);
  }
  // The same data with a valid shape resolves: the cases above fail for their one fault.
  EXPECT_EQ(platform::resolveBookmark(
                bytesOf("{\"bookmark\":1,\"url\":\"" + root + "\",\"device\":1,\"inode\":1}")),
            Url::parse(root).value());
}

TEST(BookmarkTest, FormatOneIsReadAndWrittenByTheStrictJsonRules) {
  TempDirectory dir;
  const std::string url = Url::fromFilePath(dir.path()).text();
  const std::string quoted = "\"" + url + "\"";
  const std::pair<std::string, bool> cases[] = {
      {"{\"bookmark\":1.0,\"url\":" + quoted + ",\"device\":1,\"inode\":1e0}", true},
      {"{\"bookmark\":1,\"url\":" + quoted +
           ",\"device\":18446744073709551615,\"inode\":9223372036854775808}",
       true},
      {"{\"inode\":1,\"device\":1,\"url\":" + quoted + ",\"bookmark\":1}", true},
      {"{\"bookmark\":1,\"url\":" + quoted + ",\"url\":" + quoted + ",\"device\":1,\"inode\":1}",
       false},
      {"{\"bookmark\":1,\"url\":" + quoted + ",\"device\":-1,\"inode\":1}", false},
      {"{\"bookmark\":1,\"url\":" + quoted + ",\"device\":1.5,\"inode\":1}", false},
      {"{\"bookmark\":true,\"url\":" + quoted + ",\"device\":1,\"inode\":1}", false},
      {"{\"bookmark\":1,\"url\":" + quoted + ",\"device\":1,\"inode\":null}", false},
  };
  for (const auto& [text, resolves] : cases) {
    SCOPED_TRACE(text);
    if (resolves) {
      EXPECT_EQ(platform::resolveBookmark(bytesOf(text)), Url::parse(url).value());
    } else {
      EXPECT_ERROR_DOMAIN(platform::resolveBookmark(bytesOf(text)), platform::kBookmarkDomain);
    }
  }
  // Written like every record: members in the documented order, "/" escaped.
  const std::vector<std::uint8_t> data = platform::makeBookmark(Url::parse(url).value());
  const std::string text(data.begin(), data.end());
  EXPECT_EQ(text.rfind("{\"bookmark\":1,\"url\":\"file:\\/\\/\\/", 0), 0u) << text;
  EXPECT_NE(text.find("\",\"device\":"), std::string::npos) << text;
}

}  // namespace
}  // namespace test_support
