// The non-clock part of the Desktop contract, run against the real desktop and the double:
// bundles, pasteboards, bookmarks and security-scoped access, all on real files.
#include <gtest/gtest.h>

#include "platform/desktop/desktop.h"
#include "platform/testing/fake_desktop.h"
#include "support/temp_directory.h"
#include "test_bundles.h"

namespace platform {
namespace {

namespace fs = std::filesystem;

struct RealDesktop {
  static std::unique_ptr<Desktop> make() { return makeDesktop(0, nullptr); }
};
struct DoubleDesktop {
  static std::unique_ptr<Desktop> make() { return std::make_unique<testing::FakeDesktop>(); }
};

template <typename Factory>
class DesktopContract : public ::testing::Test {
 protected:
  DesktopContract() { testing::writeText(file, "file"); }

  test_support::TempDirectory directory;
  fs::path file = directory.path() / "file";
  std::unique_ptr<Desktop> desktop = Factory::make();
};

using Desktops = ::testing::Types<RealDesktop, DoubleDesktop>;
TYPED_TEST_SUITE(DesktopContract, Desktops);

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
  const Bookmarks& bookmarks = this->desktop->bookmarks();
  const auto data = bookmarks.make(Url::fromFilePath(this->file));
  EXPECT_EQ(bookmarks.resolve(data), Url::fromFilePath(this->file));
  EXPECT_THROW(bookmarks.make(Url::fromFilePath(this->directory.path() / "missing")), Error);
}

TYPED_TEST(DesktopContract, SecurityScopedAccessIsNotGranted) {
  const auto url = Url::fromFilePath(this->file);
  EXPECT_FALSE(this->desktop->startAccessingSecurityScopedResource(url));
  this->desktop->stopAccessingSecurityScopedResource(url);
}

}  // namespace
}  // namespace platform
