// hash, inventory, matchesInventory and boundApp on real package trees.
#include "exchange/inventory.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/linux/bookmark.h"
#include "support/test_support.h"

namespace test_support {
namespace {

using namespace FinderConversion;

const std::string kEmptyDigest = "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855";
const std::string kAbcDigest = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";
const std::string kDir = "directory";

TEST(InventoryTest, DescribesEveryEntryHiddenOnesIncluded) {
  TempDirectory dir;
  std::filesystem::create_directories(dir / "Contents" / "MacOS");
  std::filesystem::create_directories(dir / ".hidden-dir");
  writeText(dir / "Contents" / "MacOS" / "run", "abc");
  writeText(dir / ".DS_Store", "");
  EXPECT_EQ(hash(dir / ".DS_Store"), kEmptyDigest);
  EXPECT_EQ(inventory(dir.path()), (Inventory{{"Contents/", kDir},
                                              {"Contents/MacOS/", kDir},
                                              {"Contents/MacOS/run", kAbcDigest},
                                              {".hidden-dir/", kDir},
                                              {".DS_Store", kEmptyDigest}}));
}

TEST(InventoryTest, OnlyEmptyDirectoriesIsNotEmpty) {
  TempDirectory dir;
  std::filesystem::create_directories(dir / "a" / "b");
  EXPECT_EQ(inventory(dir.path()), (Inventory{{"a/", kDir}, {"a/b/", kDir}}));
}

TEST(InventoryTest, FailuresWithTheirSentences) {
  struct Case {
    const char* name;
    void (*make)(const std::filesystem::path& root);
    std::string sentence;
  };
  const Case cases[] = {
      {"empty", [](const std::filesystem::path&) {}, "The add-on package is empty."},
      {"link to a file inside",
       [](const std::filesystem::path& root) {
         std::filesystem::create_directory(root / "a");
         writeText(root / "a" / "file", "x");
         std::filesystem::create_symlink("file", root / "a" / "link");
       },
       "The add-on contains an unexpected symbolic link."},
      {"link to a directory",
       [](const std::filesystem::path& root) {
         std::filesystem::create_directory_symlink("/", root / "up");
       },
       "The add-on contains an unexpected symbolic link."},
      {"fifo",
       [](const std::filesystem::path& root) {
         std::filesystem::create_directory(root / "a");
         makeFifo(root / "a" / "pipe");
       },
       "The add-on contains an unsupported special entry. Nothing was changed."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDirectory dir;
    c.make(dir.path());
    EXPECT_FAILURE_SENTENCE(inventory(dir.path()), c.sentence);
  }
}

TEST(InventoryTest, TheRootItself) {
  TempDirectory dir;
  std::filesystem::create_directory(dir / "package");
  writeText(dir / "package" / "file", "abc");
  std::filesystem::create_directory_symlink(dir / "package", dir / "link");
  writeText(dir / "plain", "x");
  EXPECT_FAILURE_SENTENCE(inventory(dir / "link"),
                          "The add-on root is an unexpected symbolic link.");
  EXPECT_FAILURE_SENTENCE(inventory(dir / "plain"), "The add-on package cannot be read.");
  EXPECT_ERRNO(inventory(dir / "missing"), ENOENT);
}

TEST(InventoryTest, ANameThatIsNotUtf8NeitherCrashesNorMatches) {
  TempDirectory dir;
  const std::string name = "bad\xff.txt";
  writeText(dir / name, "abc");
  const Inventory actual = inventory(dir.path());
  EXPECT_EQ(actual, (Inventory{{name, kAbcDigest}}));
  EXPECT_FALSE(matchesInventory(actual, actual));
  EXPECT_FALSE(matchesInventory(actual, Inventory{{"bad\xef\xbf\xbd.txt", kAbcDigest}}));
  Receipt receipt;
  receipt.files = actual;  // such a key has no JSON form: an installer cannot record it
  EXPECT_ERROR_DOMAIN(encode(receipt), platform::kJsonEncodingDomain);
}

TEST(MatchesInventoryTest, FullAndFileOnlyForms) {
  const Inventory actual = {{"a/", kDir}, {"a/b/", kDir}, {"a/b/c", "h1"}, {"d", "h2"}};
  struct Case {
    const char* name;
    Inventory expected;
    bool matches;
  };
  const Case cases[] = {
      {"equal full form", actual, true},
      {"full form missing a directory", {{"a/", kDir}, {"a/b/c", "h1"}, {"d", "h2"}}, false},
      {"full form other digest",
       {{"a/", kDir}, {"a/b/", kDir}, {"a/b/c", "h9"}, {"d", "h2"}},
       false},
      {"full form keys are not examined",
       {{"a/", kDir}, {"a/b/", kDir}, {"a/b/c", "h1"}, {"d", "h2"}, {"/x/../y", "h3"}},
       false},
      {"file-only form", {{"a/b/c", "h1"}, {"d", "h2"}}, true},
      {"file-only form missing a file", {{"a/b/c", "h1"}}, false},
      {"file-only form with extra file", {{"a/b/c", "h1"}, {"d", "h2"}, {"e", "h3"}}, false},
      {"dot-dot component", {{"a/b/c", "h1"}, {"d", "h2"}, {"a/../d", "h2"}}, false},
      {"dot-dot at the end", {{"a/b/c", "h1"}, {"d/..", "h2"}}, false},
      {"leading slash", {{"/a/b/c", "h1"}, {"d", "h2"}}, false},
      {"doubled slash adds a/ but never equals a/b/c", {{"a//b/c", "h1"}, {"d", "h2"}}, false},
      {"empty expected", {}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(matchesInventory(actual, c.expected), c.matches);
  }

  // a//b yields the directory a/ and keeps its own key a//b.
  EXPECT_TRUE(matchesInventory(Inventory{{"a/", kDir}, {"a//b", "h"}}, Inventory{{"a//b", "h"}}));
  // An empty directory in the package is not implied by any file key.
  EXPECT_FALSE(matchesInventory(Inventory{{"e/", kDir}, {"d", "h2"}}, Inventory{{"d", "h2"}}));
}

TEST(MatchesInventoryTest, CanonicallyEquivalentNamesMatch) {
  const std::string nfc = "Caf\xc3\xa9";   // é precomposed
  const std::string nfd = "Cafe\xcc\x81";  // e + combining acute
  const Inventory onDisk = {{nfd + "/", kDir}, {nfd + "/" + nfd + ".txt", "h"}};
  EXPECT_TRUE(
      matchesInventory(onDisk, Inventory{{nfc + "/", kDir}, {nfc + "/" + nfc + ".txt", "h"}}));
  EXPECT_TRUE(matchesInventory(onDisk, Inventory{{nfc + "/" + nfd + ".txt", "h"}}));
  // No case folding and no compatibility mapping.
  EXPECT_FALSE(matchesInventory(
      onDisk, Inventory{{"CAF\xc3\x89/", kDir}, {"CAF\xc3\x89/" + nfc + ".txt", "h"}}));
  EXPECT_FALSE(matchesInventory(Inventory{{"\xef\xac\x81", "h"}}, Inventory{{"fi", "h"}}));
  // Two entries whose names are equivalent cannot be told apart: no match.
  EXPECT_FALSE(
      matchesInventory(Inventory{{nfc, "h"}, {nfd, "h"}}, Inventory{{nfc, "h"}, {nfd, "h"}}));
}

TEST(MatchesInventoryTest, NfcAndNfdFilesOnDisk) {
  TempDirectory dir;
  writeText(dir / "Cafe\xcc\x81.txt", "abc");
  EXPECT_TRUE(matchesInventory(inventory(dir.path()), Inventory{{"Caf\xc3\xa9.txt", kAbcDigest}}));
}

TEST(MatchesInventoryTest, OptionalForm) {
  const Inventory some = {{"d", "h"}};
  EXPECT_TRUE(matchesInventory(std::optional<Inventory>(), std::optional<Inventory>()));
  EXPECT_FALSE(matchesInventory(std::optional<Inventory>(some), std::optional<Inventory>()));
  EXPECT_FALSE(matchesInventory(std::optional<Inventory>(), std::optional<Inventory>(some)));
  EXPECT_TRUE(matchesInventory(std::optional<Inventory>(some), std::optional<Inventory>(some)));
  EXPECT_FALSE(matchesInventory(std::optional<Inventory>(some),
                                std::optional<Inventory>(Inventory{{"d", "x"}})));
}

TEST(BoundAppTest, AppPathFirstThenTheBookmark) {
  const platform::FormatOneBookmarks bookmarks;
  TempDirectory dir;
  std::filesystem::create_directory(dir / "Tonebrook.app");
  std::filesystem::create_directory(dir / "Moved.app");
  Receipt receipt;
  receipt.appBookmark = platform::makeBookmark(Url::fromFilePath(dir / "Moved.app"));

  receipt.appPath = Url::fromFilePath(dir / "Tonebrook.app");
  EXPECT_EQ(boundApp(receipt, bookmarks), dir / "Tonebrook.app");
  receipt.appPath = Url::fromFilePath(dir / "Gone.app");
  EXPECT_EQ(boundApp(receipt, bookmarks), dir / "Moved.app");
  receipt.appPath.reset();
  EXPECT_EQ(boundApp(receipt, bookmarks), dir / "Moved.app");

  std::filesystem::remove(dir / "Moved.app");
  EXPECT_ERROR_DOMAIN(boundApp(receipt, bookmarks), platform::kBookmarkDomain);
  receipt.appBookmark = {};
  EXPECT_ERROR_DOMAIN(boundApp(receipt, bookmarks), platform::kBookmarkDomain);
}

// The bookmark bytes are the desktop's affair: boundApp hands them to the Bookmarks it is given
// and takes the answer, whatever the bytes look like.
TEST(BoundAppTest, TheBookmarkIsResolvedByTheGivenBookmarks) {
  struct Reversed final : platform::Bookmarks {
    std::vector<std::uint8_t> make(const Url& location) const override {
      std::string text = location.text();
      return std::vector<std::uint8_t>(text.rbegin(), text.rend());
    }
    Url resolve(const std::vector<std::uint8_t>& data) const override {
      return Url::parse(std::string(data.rbegin(), data.rend())).value();
    }
  } reversed;
  TempDirectory dir;
  Receipt receipt;
  receipt.appPath = Url::fromFilePath(dir / "Gone.app");
  receipt.appBookmark = reversed.make(Url::fromFilePath(dir / "Elsewhere.app"));
  EXPECT_EQ(boundApp(receipt, reversed), dir / "Elsewhere.app");
  EXPECT_ERROR_DOMAIN(boundApp(receipt, platform::FormatOneBookmarks()), platform::kBookmarkDomain);
}

}  // namespace
}  // namespace test_support
