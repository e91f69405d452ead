// The non-clock part of the Desktop contract, run against the real desktop and the double:
// file tests, the move that never replaces, bundles, pasteboards, bookmarks and
// security-scoped access, all on real files.
#include <gtest/gtest.h>

#include <fstream>

#include "platform/core/bookmark.h"
#include "platform/desktop/desktop.h"
#include "platform/testing/fake_desktop.h"
#include "support/temp_directory.h"
#include "test_bundles.h"

namespace platform {
namespace {

namespace fs = std::filesystem;

struct RealDesktop {
  static std::unique_ptr<Desktop> make() { return makeLinuxDesktop(0, nullptr); }
};
struct DoubleDesktop {
  static std::unique_ptr<Desktop> make() { return std::make_unique<testing::FakeDesktop>(); }
};

template <typename Factory>
class DesktopContract : public ::testing::Test {
 protected:
  DesktopContract() {
    testing::writeText(file, "file");
    testing::writeText(program, "#!/bin/sh\n");
    fs::permissions(program, fs::perms::owner_all);
    fs::create_directory(folder);
    fs::create_symlink(program, directory.path() / "program-link");
    fs::create_symlink(directory.path() / "nowhere", directory.path() / "dangling");
  }

  test_support::TempDirectory directory;
  fs::path file = directory.path() / "file";
  fs::path program = directory.path() / "program";
  fs::path folder = directory.path() / "folder";
  std::unique_ptr<Desktop> desktop = Factory::make();
};

using Desktops = ::testing::Types<RealDesktop, DoubleDesktop>;
TYPED_TEST_SUITE(DesktopContract, Desktops);

TYPED_TEST(DesktopContract, FileTestsFollowLinks) {
  const auto& root = this->directory.path();
  const struct {
    const char* name;
    bool exists;
    bool executable;
  } cases[] = {
      {"file", true, false},        {"program", true, true},    {"folder", true, false},
      {"program-link", true, true}, {"dangling", false, false}, {"missing", false, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(this->desktop->fileExists(root / c.name), c.exists);
    EXPECT_EQ(this->desktop->isExecutableFile(root / c.name), c.executable);
  }
}

TYPED_TEST(DesktopContract, MoveItemFailsRatherThanReplace) {
  const auto target = this->directory.path() / "target";
  testing::writeText(target, "target");
  try {
    this->desktop->moveItem(this->file, target);
    FAIL() << "replaced the target";
  } catch (const Error& error) {
    EXPECT_EQ(error.domain(), kPosixDomain);
    EXPECT_EQ(error.code(), EEXIST);
  }
  EXPECT_TRUE(fs::exists(this->file));
  std::ifstream in(target);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "target");

  this->desktop->moveItem(this->file, this->folder / "moved");
  EXPECT_FALSE(fs::exists(this->file));
  EXPECT_TRUE(fs::exists(this->folder / "moved"));
  EXPECT_THROW(this->desktop->moveItem(this->file, this->folder / "again"), Error);
}

TYPED_TEST(DesktopContract, BundlesAreRead) {
  const auto root = testing::makeBundle(this->directory.path() / "T.app", "app.tonebrook.T");
  const auto bundle = this->desktop->openBundle(root);
  ASSERT_TRUE(bundle);
  EXPECT_EQ(bundle->identifier(), "app.tonebrook.T");
  EXPECT_FALSE(this->desktop->openBundle(this->file));
}

TYPED_TEST(DesktopContract, PasteboardsAreNamedAndShared) {
  Pasteboard& first = this->desktop->pasteboard("Tonebrook.FinderVerification.A");
  first.writeURLs({Url::fromFilePath(this->file)});
  EXPECT_EQ(&this->desktop->pasteboard("Tonebrook.FinderVerification.A"), &first);
  EXPECT_NE(&this->desktop->pasteboard("Tonebrook.FinderVerification.B"), &first);
  EXPECT_EQ(this->desktop->pasteboard("Tonebrook.FinderVerification.A").readFileURLs(),
            (std::vector<Url>{Url::fromFilePath(this->file)}));
}

TYPED_TEST(DesktopContract, BookmarksForExistingItemsOnly) {
  const auto data = this->desktop->bookmarkData(Url::fromFilePath(this->file));
  EXPECT_EQ(resolveBookmark(data), Url::fromFilePath(this->file));
  EXPECT_THROW(this->desktop->bookmarkData(Url::fromFilePath(this->directory.path() / "missing")),
               Error);
}

TYPED_TEST(DesktopContract, SecurityScopedAccessIsNotGranted) {
  const auto url = Url::fromFilePath(this->file);
  EXPECT_FALSE(this->desktop->startAccessingSecurityScopedResource(url));
  this->desktop->stopAccessingSecurityScopedResource(url);
}

}  // namespace
}  // namespace platform
