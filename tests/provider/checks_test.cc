// Everything a delivery checks before it queues a request, in order, and the selection it reads.

#include <gtest/gtest.h>

#include <chrono>

#include "exchange/constants.h"
#include "exchange/inventory.h"
#include "exchange/record_files.h"
#include "platform/desktop/pasteboard.h"
#include "platform/linux/bookmark.h"
#include "provider/confirmation.h"
#include "provider/installation_checks.h"
#include "provider/selection.h"
#include "support/test_support.h"
#include "tests/provider/provider_fixture.h"

namespace provider_test {
namespace {

namespace fs = std::filesystem;

const std::string repair(provider::kAddOnRepairSentence);
const std::string incompatible(provider::kHostIncompatibleSentence);
const std::string chooseLocal(provider::kChooseLocalFilesSentence);
const std::string selection(FinderConversion::kSelectionSentence);

// descriptionOf: what `operation` throws, as the user would read it.
template <typename Operation>
std::string descriptionOf(Operation operation) {
  try {
    operation();
  } catch (const platform::Error& error) {
    return error.description();
  }
  return "(no error)";
}

struct BrokenInstallation {
  const char* name;
  std::function<void(const Sandbox&)> breakIt;
  std::function<std::string(const Sandbox&)> expected;
};

auto sentence(const std::string& text) {
  return [text](const Sandbox&) { return text; };
}

void rewriteReceipt(const Sandbox& s, const std::function<void(FinderConversion::Receipt&)>& edit) {
  FinderConversion::Receipt receipt = s.receipt();
  edit(receipt);
  s.writeReceipt(receipt);
}

void writeProtocol(const Sandbox& s, const std::string& text) {
  writeText(s.host() / FinderConversion::kHostProtocolFile, text);
}

const BrokenInstallation brokenInstallations[] = {
    {"receipt missing", [](const Sandbox& s) { fs::remove(s.root() / "receipt.json"); },
     [](const Sandbox& s) {
       return descriptionOf(
           [&] { FinderConversion::read<FinderConversion::Receipt>(s.root() / "receipt.json"); });
     }},
    {"receipt version 2, checked before the add-on is hashed",
     [](const Sandbox& s) {
       rewriteReceipt(s, [](auto& r) { r.version = 2; });
       fs::remove_all(s.addOn());
     },
     sentence(repair)},
    {"receipt of another application",
     [](const Sandbox& s) {
       rewriteReceipt(s, [](auto& r) { r.appBundleID = "app.other.Other"; });
     },
     sentence(repair)},
    {"add-on file changed",
     [](const Sandbox& s) { writeText(s.addOn() / "Contents/Resources/Menu.strings", "x"); },
     sentence(repair)},
    {"add-on file added", [](const Sandbox& s) { writeText(s.addOn() / "Contents/extra", ""); },
     sentence(repair)},
    {"add-on file removed",
     [](const Sandbox& s) { fs::remove(s.addOn() / "Contents/Resources/Menu.strings"); },
     sentence(repair)},
    {"add-on package unreadable", [](const Sandbox& s) { fs::remove_all(s.addOn()); },
     [](const Sandbox& s) {
       return descriptionOf([&] { FinderConversion::inventory(s.addOn()); });
     }},
    {"bound application gone", [](const Sandbox& s) { fs::remove_all(s.host()); },
     [](const Sandbox& s) {
       return descriptionOf([&] {
         FinderConversion::boundApp(
             FinderConversion::read<FinderConversion::Receipt>(s.root() / "receipt.json"),
             platform::FormatOneBookmarks());
       });
     }},
    {"host of another identity",
     [](const Sandbox& s) {
       fs::remove_all(s.host());
       makeHostBundle(s.host(), "app.tonebrook.Impostor");
     },
     sentence(incompatible)},
    {"host without Info", [](const Sandbox& s) { fs::remove(s.host() / "Contents/Info.plist"); },
     sentence(incompatible)},
    {"host executable not executable",
     [](const Sandbox& s) {
       fs::permissions(s.host() / FinderConversion::kHostExecutable, fs::perms::owner_read);
     },
     sentence(incompatible)},
    {"host executable missing",
     [](const Sandbox& s) { fs::remove(s.host() / FinderConversion::kHostExecutable); },
     sentence(incompatible)},
    {"protocol file missing",
     [](const Sandbox& s) { fs::remove(s.host() / FinderConversion::kHostProtocolFile); },
     sentence(incompatible)},
    {"protocol version 2", [](const Sandbox& s) { writeProtocol(s, R"({"version":2})"); },
     sentence(incompatible)},
    {"protocol member of another kind",
     [](const Sandbox& s) { writeProtocol(s, R"({"version":1,"build":"7"})"); },
     sentence(incompatible)},
    // The protocol file is read like a record: never through a link, never from a FIFO (which
    // would block the delivery under the lifecycle lock), never beyond 2,000,000 bytes.
    {"protocol file a link to a valid one",
     [](const Sandbox& s) {
       fs::path file = s.host() / FinderConversion::kHostProtocolFile;
       fs::rename(file, file.parent_path() / "real.json");
       fs::create_symlink("real.json", file);
     },
     sentence(incompatible)},
    {"protocol file a FIFO",
     [](const Sandbox& s) {
       fs::remove(s.host() / FinderConversion::kHostProtocolFile);
       test_support::makeFifo(s.host() / FinderConversion::kHostProtocolFile);
     },
     sentence(incompatible)},
    {"protocol file over the record size limit",
     [](const Sandbox& s) { writeProtocol(s, R"({"version":1})" + std::string(2'000'000, ' ')); },
     sentence(incompatible)},
};

using Checks = ProviderTest;

TEST_F(Checks, EachBrokenInstallationGivesItsErrorAndLeavesNothing) {
  for (const BrokenInstallation& broken : brokenInstallations) {
    SCOPED_TRACE(broken.name);
    Sandbox own;
    desktop.setArguments({own.providerExecutable().string()});
    desktop.setMainBundleURL(own.addOn());
    fs::path input = own.audio("a.wav");
    auto provider = Provider::create(desktop, own.root(), false);
    broken.breakIt(own);
    std::string expected = broken.expected(own);

    EXPECT_EQ(convert(*provider, {input}), expected);
    EXPECT_TRUE(own.queued().empty());
    EXPECT_TRUE(desktop.launches().empty());
  }
}

TEST_F(Checks, BrokenAddOnIsReportedBeforeAnEmptySelection) {
  auto provider = makeProvider();
  writeText(sandbox.addOn() / "Contents/extra", "");
  platform::Pasteboard& empty = desktop.pasteboard("empty");
  EXPECT_EQ(convert(*provider, empty), repair);
  EXPECT_EQ(convert(*provider, empty, std::nullopt), repair);
}

TEST(SpeaksProtocol, AcceptsOnlyIntegralNumbersWithVersionOne) {
  const std::pair<const char*, bool> cases[] = {
      {R"({"version":1})", true},
      {R"({"version":1,"build":42})", true},
      {R"({"version":1.0,"minimum":-3})", true},
      {R"({"version":2})", false},
      {R"({"version":1,"build":"42"})", false},
      {R"({"version":1,"build":1.5})", false},
      {R"({"version":1,"flag":true})", false},
      {R"({"version":1,"nested":{}})", false},
      {R"({"version":true})", false},
      {R"({"build":1})", false},
      {R"({})", false},
      {R"([1])", false},
      {R"({"version":1)", false},
      {"", false},
      // The records' strict rules: no member twice, integers within 64 bits.
      {R"({"version":1,"version":1})", false},
      {R"({"version":1,"build":1e300})", false},
      {R"({"version":1,"build":18446744073709551615})", false},
  };
  for (const auto& [document, speaks] : cases) {
    SCOPED_TRACE(document);
    EXPECT_EQ(provider::speaksProtocol(document), speaks);
  }
}

struct BadSelection {
  const char* name;
  std::function<void(platform::Pasteboard&, const Sandbox&)> fill;
  std::optional<std::string> format;
  std::string expected;
};

TEST_F(Checks, EachBadSelectionIsRefusedAfterTheInstallationChecks) {
  using Filenames = platform::Pasteboard::FilenamesValue;
  auto urlsOf = [](std::vector<fs::path> files) {
    std::vector<platform::Url> urls;
    for (const auto& file : files) urls.push_back(platform::Url::fromFilePath(file));
    return urls;
  };
  const BadSelection cases[] = {
      {"empty pasteboard", [](auto&, const auto&) {}, "mp3", chooseLocal},
      {"path list with a relative path",
       [](auto& p, const auto& s) {
         p.setFilenames(Filenames{std::vector<std::string>{s.audio("a.wav").string(), "b.wav"}});
       },
       "mp3", chooseLocal},
      {"path list of another kind", [](auto& p, const auto&) { p.setFilenames(Filenames{}); },
       "mp3", chooseLocal},
      {"only web URLs", [](auto& p, const auto&) { p.writeEntries({"https://example.com/a.wav"}); },
       "mp3", selection},
      {"seventeen files",
       [&](auto& p, const auto& s) {
         std::vector<fs::path> files;
         for (int i = 0; i < 17; ++i) files.push_back(s.audio(std::to_string(i) + ".wav"));
         p.writeURLs(urlsOf(files));
       },
       "mp3", selection},
      {"format in capitals",
       [&](auto& p, const auto& s) { p.writeURLs(urlsOf({s.audio("a.wav")})); }, "MP3", selection},
      {"no user data", [&](auto& p, const auto& s) { p.writeURLs(urlsOf({s.audio("a.wav")})); },
       std::nullopt, selection},
      {"an empty URL list beside a path list",
       [](auto& p, const auto& s) {
         p.writeEntries({});
         p.setFilenames(Filenames{std::vector<std::string>{s.audio("a.wav").string()}});
       },
       "mp3", selection},
      {"file on another host",
       [](auto& p, const auto&) { p.writeEntries({"file://server/Music/a.wav"}); }, "mp3",
       std::string(FinderConversion::kLocalitySentence)},
  };
  auto provider = makeProvider();
  for (const BadSelection& bad : cases) {
    SCOPED_TRACE(bad.name);
    platform::Pasteboard& pasteboard = desktop.pasteboard(bad.name);
    bad.fill(pasteboard, sandbox);
    EXPECT_EQ(convert(*provider, pasteboard, bad.format), bad.expected);
    EXPECT_TRUE(sandbox.queued().empty());
  }
  EXPECT_TRUE(desktop.launches().empty());
}

// Over sixteen files the outcome is known before any file is looked at: no bookmark is made,
// and a pasteboard of a million entries is refused in well under the time an installer gives
// a silent provider (3 s), with the sentences the smaller cases get.
TEST_F(Checks, LongSelectionsAreRefusedCheaplyWithTheSameSentences) {
  const struct {
    const char* name;
    std::size_t entries;
    const char* last;  // replaces the last entry when set
    std::string expected;
  } cases[] = {
      {"seventeen files", 17, nullptr, selection},
      {"a million files", 1'000'000, nullptr, selection},
      {"a million entries, the last no URL", 1'000'000, "not a URL", chooseLocal},
      {"web URLs and one file", 1000, "file:///Music/a.wav", ""},
  };
  auto provider = makeProvider();
  desktop.grantSecurityScopedAccess(true);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    platform::InProcessPasteboard pasteboard;
    const bool web = c.expected.empty();
    const std::string entry = web ? "https://example.com/a.wav" : "file:///Music/a.wav";
    for (std::size_t i = 0; i + 1 < c.entries; ++i) pasteboard.appendEntry(entry);
    pasteboard.appendEntry(c.last != nullptr ? std::string(c.last) : "file:///Music/last.wav");
    const auto started = std::chrono::steady_clock::now();
    const std::optional<std::string> error = convert(*provider, pasteboard, "mp3");
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - started;
    if (web) {
      // One file among web URLs is a selection of one: queued, then the host is awaited.
      EXPECT_EQ(error, std::optional<std::string>(provider::kUnconfirmedSentence));
      EXPECT_EQ(sandbox.queued().size(), 1u);
    } else {
      EXPECT_EQ(error, c.expected);
      EXPECT_TRUE(sandbox.queued().empty());
      EXPECT_TRUE(desktop.securityScopedLog().empty()) << "no bookmark was made";
      EXPECT_LT(took.count(), 1.5);
    }
  }
}

class Selection : public ProviderTest {
 protected:
  FinderConversion::Request deliver(platform::Pasteboard& pasteboard) {
    auto provider = makeProvider();
    std::optional<FinderConversion::Request> request;
    after(desktop, platform::Seconds(0.1), [&] {
      request = sandbox.onlyQueuedRequest();
      sandbox.answer(true);
    });
    EXPECT_EQ(convert(*provider, pasteboard, "flac"), std::nullopt);
    return request.value();
  }
};

TEST_F(Selection, FileURLsWinOverThePathList) {
  fs::path a = sandbox.audio("a.wav");
  platform::Pasteboard& pasteboard = desktop.pasteboard("both");
  pasteboard.writeURLs({platform::Url::fromFilePath(a)});
  pasteboard.setFilenames({std::vector<std::string>{sandbox.audio("b.wav").string()}});

  FinderConversion::Request request = deliver(pasteboard);

  ASSERT_EQ(request.inputs.size(), 1u);
  EXPECT_EQ(request.inputs[0].url, platform::Url::fromFilePath(a));
  EXPECT_EQ(request.format, "flac");
  EXPECT_EQ(request.version, 1);
}

TEST_F(Selection, PathListInOrderWithBookmarksWhereTheyCanBeMade) {
  fs::path present = sandbox.audio("b #1.wav");
  fs::path missing = sandbox.directory() / "Music/gone.wav";
  platform::Pasteboard& pasteboard = desktop.pasteboard("paths");
  pasteboard.setFilenames({std::vector<std::string>{present.string(), missing.string()}});
  desktop.grantSecurityScopedAccess(true);

  FinderConversion::Request request = deliver(pasteboard);

  ASSERT_EQ(request.inputs.size(), 2u);
  EXPECT_EQ(request.inputs[0].url, platform::Url::fromFilePath(present));
  EXPECT_TRUE(request.inputs[0].bookmark.has_value());
  EXPECT_EQ(request.inputs[1].url, platform::Url::fromFilePath(missing));
  EXPECT_FALSE(request.inputs[1].bookmark.has_value());
  const std::string first = platform::Url::fromFilePath(present).text();
  const std::string second = platform::Url::fromFilePath(missing).text();
  EXPECT_EQ(desktop.securityScopedLog(),
            (std::vector<std::string>{"start " + first, "stop " + first, "start " + second,
                                      "stop " + second}));
}

TEST_F(Selection, EveryCallQueuesAFreshIdentifier) {
  platform::Pasteboard& pasteboard = desktop.pasteboard("one");
  pasteboard.writeURLs({platform::Url::fromFilePath(sandbox.audio("a.wav"))});
  auto provider = makeProvider();
  std::vector<FinderConversion::Uuid> ids;
  for (int call = 0; call < 2; ++call) {
    after(desktop, platform::Seconds(0.1), [&] {
      for (const fs::path& file : sandbox.queued()) {
        auto request = FinderConversion::read<FinderConversion::Request>(file);
        if (!fs::exists(sandbox.acknowledgementOf(request.id))) ids.push_back(request.id);
      }
      FinderConversion::Acknowledgement answer;
      answer.id = ids.back();
      answer.accepted = true;
      FinderConversion::write(answer, sandbox.acknowledgementOf(answer.id));
    });
    EXPECT_EQ(convert(*provider, pasteboard), std::nullopt);
  }
  ASSERT_EQ(ids.size(), 2u);
  EXPECT_NE(ids[0], ids[1]);
}

}  // namespace
}  // namespace provider_test
