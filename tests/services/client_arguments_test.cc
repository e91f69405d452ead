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
      {"file URI as Nautilus writes it", "file:///x/it's%20$(a)%20%60b%60%25%20%E9.wav",
       "/x/it's $(a) `b`% \xE9.wav"},
      {"leading dash", "-n.wav", kHere / "-n.wav"},
      {"colons that make no URI", "take 1: a:b.wav", kHere / "take 1: a:b.wav"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const platform::Url url = services::fileLocation(c.argument, kHere);
    EXPECT_EQ(url.filePath(), c.path) << url.text();
    for (char byte : url.text()) EXPECT_LT(static_cast<unsigned char>(byte), 0x80) << url.text();
  }
}

TEST(ClientArguments, ReadsOptionsUserDataAndFilesInOrder) {
  struct Case {
    const char* name;
    std::vector<std::string> arguments;
    bool notify;
    std::string userData;
    std::vector<fs::path> files;
  };
  const Case cases[] = {
      {"plain", {"ogg", "/a.wav"}, false, "ogg", {"/a.wav"}},
      {"only the words before the user data are options",
       {"--notify", "mp3", "a.wav", "--notify"},
       true,
       "mp3",
       {kHere / "a.wav", kHere / "--notify"}},
      {"-- after the user data, as the entries pass it",
       {"--notify", "mp3", "--", "-n.wav", "--"},
       true,
       "mp3",
       {kHere / "-n.wav", kHere / "--"}},
      {"-- before the user data", {"--", "wav", "--", "--"}, false, "wav", {kHere / "--"}},
      {"a dash file without --", {"mp3", "-n.wav"}, false, "mp3", {kHere / "-n.wav"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const auto parsed = parseClientArguments(c.arguments, kHere);
    EXPECT_EQ(parsed.notify, c.notify);
    EXPECT_EQ(parsed.userData, c.userData);
    std::vector<fs::path> files;
    for (const platform::Url& url : parsed.files) files.push_back(url.filePath().value_or(""));
    EXPECT_EQ(files, c.files);
  }
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
      {"-- and no file", {"--notify", "mp3", "--"}, usage},
      {"unknown option", {"-x", "mp3", "a.wav"}, usage},
      {"broken URI", {"mp3", "file://a b"}, "\u201Cfile://a b\u201D is not a valid file address."},
      {"remote URI", {"mp3", "/a.wav", "sftp://host/a.wav"}, "Only local files are supported."},
      {"trash URI", {"mp3", "trash:///a.wav"}, "Only local files are supported."},
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
