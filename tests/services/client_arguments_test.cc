#include "services/client_arguments.h"

#include <gtest/gtest.h>

#include "platform/core/error.h"

namespace {

namespace fs = std::filesystem;
using services::parseClientArguments;

const fs::path kHere = "/home/ann/Music";

TEST(ClientArguments, FilesBecomeFileURLsOfTheirBytes) {
  struct Case {
    const char* name;
    std::string argument;
    fs::path path;  // where the URL must lead back to
  };
  const Case cases[] = {
      {"absolute", "/tmp/a.wav", "/tmp/a.wav"},
      {"relative", "sub/b c.wav", kHere / "sub/b c.wav"},
      {"quotes, #, ? and %", "/x/it's \"1\" #2? 50%.wav", "/x/it's \"1\" #2? 50%.wav"},
      {"line break", "/x/a\nb.wav", "/x/a\nb.wav"},
      {"not UTF-8", "/x/\xff\xfe.wav", "/x/\xff\xfe.wav"},
      {"file URI", "file:///x/a%20b.wav", "/x/a b.wav"},
      {"file URI in upper case", "FILE:///x/a.wav", "/x/a.wav"},
      {"file URI with localhost", "file://localhost/x/a.wav", "/x/a.wav"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const platform::Url url = services::fileLocation(c.argument, kHere);
    EXPECT_EQ(url.filePath(), c.path) << url.text();
    for (char byte : url.text()) EXPECT_LT(static_cast<unsigned char>(byte), 0x80) << url.text();
  }
}

TEST(ClientArguments, ReadsNotifyUserDataAndFilesInOrder) {
  const auto parsed = parseClientArguments({"--notify", "mp3", "a.wav", "--notify"}, kHere);
  EXPECT_TRUE(parsed.notify);
  EXPECT_EQ(parsed.userData, "mp3");
  ASSERT_EQ(parsed.files.size(), 2u);
  EXPECT_EQ(parsed.files[1].filePath(), kHere / "--notify") << "only the first word is an option";

  const auto plain = parseClientArguments({"ogg", "/a.wav"}, kHere);
  EXPECT_FALSE(plain.notify);
  EXPECT_EQ(plain.userData, "ogg");
}

TEST(ClientArguments, RefusesMissingPartsAndBrokenURIs) {
  struct Case {
    const char* name;
    std::vector<std::string> arguments;
    std::string sentence;
  };
  const std::string usage(services::kUsageSentence);
  const Case cases[] = {
      {"nothing", {}, usage},
      {"no file", {"mp3"}, usage},
      {"notify and no file", {"--notify", "mp3"}, usage},
      {"broken URI", {"mp3", "file://a b"}, "\u201Cfile://a b\u201D is not a valid file address."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    try {
      parseClientArguments(c.arguments, kHere);
      ADD_FAILURE() << "accepted";
    } catch (const platform::Error& error) {
      EXPECT_EQ(error.description(), c.sentence);
    }
  }
}

}  // namespace
