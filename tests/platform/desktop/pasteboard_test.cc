// What an in-process pasteboard gives back as file URLs, for every kind of content.
#include "platform/desktop/pasteboard.h"

#include <gtest/gtest.h>

namespace platform {
namespace {

TEST(PasteboardTest, ReadingFileURLs) {
  using Texts = std::vector<std::string>;
  const struct {
    const char* name;
    std::optional<Texts> entries;  // nullopt: nothing written
    std::optional<Texts> fileURLs;
  } cases[] = {
      {"nothing written", std::nullopt, std::nullopt},
      {"an empty list is a list", Texts{}, Texts{}},
      {"file URLs in order", Texts{"file:///b.wav", "file:///a%20b.wav"},
       Texts{"file:///b.wav", "file:///a%20b.wav"}},
      {"other URLs skipped", Texts{"https://example.com/a.wav", "file:///a.wav"},
       Texts{"file:///a.wav"}},
      {"only other URLs", Texts{"https://example.com/a.wav"}, Texts{}},
      {"one entry no URL at all", Texts{"file:///a.wav", "/plain/path.wav"}, std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    InProcessPasteboard pasteboard;
    if (c.entries) pasteboard.writeEntries(*c.entries);
    const auto urls = pasteboard.readFileURLs();
    ASSERT_EQ(urls.has_value(), c.fileURLs.has_value());
    if (!urls) continue;
    Texts texts;
    for (const auto& url : *urls) texts.push_back(url.text());
    EXPECT_EQ(texts, *c.fileURLs);
  }
}

TEST(PasteboardTest, ClearingForgetsEntriesAndFilenames) {
  InProcessPasteboard pasteboard;
  pasteboard.writeURLs({*Url::parse("file:///a.wav")});
  pasteboard.writeURLs({*Url::parse("file:///b.wav")});
  pasteboard.setFilenames({std::vector<std::string>{"/a.wav"}});
  ASSERT_EQ(pasteboard.readFileURLs()->size(), 2u);
  ASSERT_TRUE(pasteboard.filenames());
  pasteboard.clearContents();
  EXPECT_FALSE(pasteboard.readFileURLs());
  EXPECT_FALSE(pasteboard.filenames());
}

}  // namespace
}  // namespace platform
