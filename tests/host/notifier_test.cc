// What the host hands its notifier on the command line comes back whole.
#include "host/notifier.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using platform::Url;

TEST(NotifierArgumentsTest, EveryNotificationComesBackWhole) {
  const platform::Uuid request = platform::Uuid::random();
  const host::NotifierArguments cases[] = {
      {request,
       std::chrono::seconds(600),
       {"Converted to MP3",
        "Tonebrook converted 1 file.",
        false,
        {Url::fromFilePath("/music/a b.mp3")}}},
      {request,
       std::chrono::seconds(0),
       {"--failure",
        "\u201c-x.wav\u201d: not an audio file\n\u201cy.wav\u201d: the disk is full",
        true,
        {}}},
      {request, std::chrono::seconds(5), {"", "", true, {Url::fromFilePath("/m/caf\xe9.ogg")}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.notification.summary);
    const std::vector<std::string> line = host::notifierCommandLine("/app/notify", c);
    EXPECT_EQ(line.front(), "/app/notify");
    const auto parsed =
        host::parseNotifierArguments(std::vector<std::string>(line.begin() + 1, line.end()));
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->request, c.request);
    EXPECT_EQ(parsed->wait, c.wait);
    EXPECT_EQ(parsed->notification.summary, c.notification.summary);
    EXPECT_EQ(parsed->notification.body, c.notification.body);
    EXPECT_EQ(parsed->notification.failure, c.notification.failure);
    EXPECT_EQ(parsed->notification.items, c.notification.items);
  }
}

TEST(NotifierArgumentsTest, AnythingElseIsRefused) {
  const std::string id = platform::Uuid::random().text();
  const std::vector<std::string> cases[] = {
      {},
      {"--request", id, "--wait", "5", "summary"},
      {"--request", "not an id", "--wait", "5", "summary", "body"},
      {"--request", id, "--wait", "-1", "summary", "body"},
      {"--request", id, "--wait", "5s", "summary", "body"},
      {"--wait", "5", "--request", id, "summary", "body"},
      {"--request", id, "--wait", "5", "--failure", "summary"},
      {"--request", id, "--wait", "5", "summary", "body", "https://example.org/a.mp3"},
      {"--request", id, "--wait", "5", "summary", "body", "/music/a.mp3"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c));
    EXPECT_FALSE(host::parseNotifierArguments(c));
  }
}

}  // namespace
