// Bundles read through their Info.plist, XML or binary, and the main bundle of an executable.
#include "platform/desktop/bundle.h"

#include <gtest/gtest.h>

#include "support/temp_directory.h"
#include "test_bundles.h"

namespace platform {
namespace {

namespace fs = std::filesystem;

// A binary property list: CFBundleIdentifier "app.tonebrook.Binary", CFBundleExecutable "Host",
// NSServices with the port names "a.b", "a.b", "c.d".
constexpr unsigned char kBinaryInfo[] = {
    0x62, 0x70, 0x6c, 0x69, 0x73, 0x74, 0x30, 0x30, 0xd3, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x5f,
    0x10, 0x12, 0x43, 0x46, 0x42, 0x75, 0x6e, 0x64, 0x6c, 0x65, 0x45, 0x78, 0x65, 0x63, 0x75, 0x74,
    0x61, 0x62, 0x6c, 0x65, 0x5f, 0x10, 0x12, 0x43, 0x46, 0x42, 0x75, 0x6e, 0x64, 0x6c, 0x65, 0x49,
    0x64, 0x65, 0x6e, 0x74, 0x69, 0x66, 0x69, 0x65, 0x72, 0x5a, 0x4e, 0x53, 0x53, 0x65, 0x72, 0x76,
    0x69, 0x63, 0x65, 0x73, 0x54, 0x48, 0x6f, 0x73, 0x74, 0x5f, 0x10, 0x14, 0x61, 0x70, 0x70, 0x2e,
    0x74, 0x6f, 0x6e, 0x65, 0x62, 0x72, 0x6f, 0x6f, 0x6b, 0x2e, 0x42, 0x69, 0x6e, 0x61, 0x72, 0x79,
    0xa3, 0x07, 0x0a, 0x0b, 0xd1, 0x08, 0x09, 0x5a, 0x4e, 0x53, 0x50, 0x6f, 0x72, 0x74, 0x4e, 0x61,
    0x6d, 0x65, 0x53, 0x61, 0x2e, 0x62, 0xd1, 0x08, 0x09, 0xd1, 0x08, 0x0c, 0x53, 0x63, 0x2e, 0x64,
    0x08, 0x0f, 0x24, 0x39, 0x44, 0x49, 0x60, 0x64, 0x67, 0x72, 0x76, 0x79, 0x7c, 0x00, 0x00, 0x00,
    0x00, 0x00, 0x00, 0x01, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x0d, 0x00, 0x00, 0x00,
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x80};

// A binary property list whose second key, "K\u00e9y" and a NUL, is UTF-16: CFBundleIdentifier
// "app.x". libplist's key getter aborts on such a key.
constexpr unsigned char kBinaryInfoWithNulInKey[] = {
    0x62, 0x70, 0x6c, 0x69, 0x73, 0x74, 0x30, 0x30, 0xd2, 0x01, 0x02, 0x03, 0x04, 0x5f, 0x10,
    0x12, 0x43, 0x46, 0x42, 0x75, 0x6e, 0x64, 0x6c, 0x65, 0x49, 0x64, 0x65, 0x6e, 0x74, 0x69,
    0x66, 0x69, 0x65, 0x72, 0x64, 0x00, 0x4b, 0x00, 0xe9, 0x00, 0x79, 0x00, 0x00, 0x55, 0x61,
    0x70, 0x70, 0x2e, 0x78, 0x51, 0x76, 0x08, 0x0d, 0x22, 0x2b, 0x31, 0x00, 0x00, 0x00, 0x00,
    0x00, 0x00, 0x01, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x05, 0x00, 0x00, 0x00,
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x33};

std::string xmlInfo(const std::string& body) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">" + body +
         "</plist>\n";
}

TEST(BundleTest, IdentifierAndExecutableFromEveryKindOfInfo) {
  test_support::TempDirectory directory;
  const struct {
    const char* name;
    std::optional<std::string> info;  // nullopt: no Info.plist at all
    std::optional<std::string> identifier;
    std::optional<std::string> executable;
  } cases[] = {
      {"XML", testing::infoPlist("app.tonebrook.Tonebrook", "Tonebrook"), "app.tonebrook.Tonebrook",
       "Tonebrook"},
      {"binary", std::string(std::begin(kBinaryInfo), std::end(kBinaryInfo)),
       "app.tonebrook.Binary", "Host"},
      {"no Info", std::nullopt, std::nullopt, std::nullopt},
      {"identifier not a string",
       xmlInfo("<dict><key>CFBundleIdentifier</key><integer>7</integer></dict>"), std::nullopt,
       std::nullopt},
      {"root not a dictionary", xmlInfo("<array><string>x</string></array>"), std::nullopt,
       std::nullopt},
      {"not a property list", "CFBundleIdentifier = x", std::nullopt, std::nullopt},
      {"empty Info", "", std::nullopt, std::nullopt},
      {"executable leading out of MacOS", testing::infoPlist("app.x", "../../evil"), "app.x",
       std::nullopt},
      {"a key with a NUL byte",
       std::string(std::begin(kBinaryInfoWithNulInKey), std::end(kBinaryInfoWithNulInKey)),
       std::nullopt, std::nullopt},
      {"executable named ..", testing::infoPlist("app.x", ".."), "app.x", std::nullopt},
      {"executable named .", testing::infoPlist("app.x", "."), "app.x", std::nullopt},
      // A NUL byte would cut the path short: "Tonebrook\0.evil" would run "Tonebrook".
      {"executable with a NUL byte",
       testing::infoPlist("app.x", std::string("Tonebrook\0.evil", 15)), "app.x", std::nullopt},
  };
  int index = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const auto root = directory.path() / ("B" + std::to_string(index++) + ".app");
    fs::create_directories(root / "Contents");
    if (c.info) testing::writeText(root / "Contents" / "Info.plist", *c.info);
    const auto bundle = Bundle::open(root);
    ASSERT_TRUE(bundle);
    EXPECT_EQ(bundle->url(), root);
    EXPECT_EQ(bundle->identifier(), c.identifier);
    const auto executable = bundle->executablePath();
    EXPECT_EQ(executable,
              c.executable ? std::optional(root / "Contents/MacOS" / *c.executable) : std::nullopt);
  }
}

TEST(BundleTest, OnlyAnExistingDirectoryIsABundle) {
  test_support::TempDirectory directory;
  const auto real = testing::makeBundle(directory.path() / "Real.app", "app.tonebrook.Real");
  testing::writeText(directory.path() / "file.app", "x");
  fs::create_directory_symlink(real, directory.path() / "Link.app");
  EXPECT_FALSE(Bundle::open(directory.path() / "file.app"));
  EXPECT_FALSE(Bundle::open(directory.path() / "missing.app"));
  EXPECT_FALSE(Bundle::open(""));
  const auto linked = Bundle::open(directory.path() / "Link.app");
  ASSERT_TRUE(linked);
  EXPECT_EQ(linked->identifier(), "app.tonebrook.Real");
}

TEST(BundleTest, InfoStringsAndServicePortNames) {
  test_support::TempDirectory directory;
  const auto root = directory.path() / "Service.service";
  testing::writeText(root / "Contents" / "Info.plist",
                     xmlInfo("<dict><key>CFBundleVersion</key><string>1.2</string>"
                             "<key>Number</key><real>1.5</real><key>NSServices</key><array>"
                             "<dict><key>NSPortName</key><string>app.one</string></dict>"
                             "<dict><key>NSPortName</key><integer>3</integer></dict>"
                             "<string>not an item</string>"
                             "<dict><key>NSPortName</key><string>app.two</string></dict>"
                             "<dict><key>NSPortName</key><string>app.one</string></dict>"
                             "</array></dict>"));
  const auto bundle = Bundle::open(root);
  ASSERT_TRUE(bundle);
  EXPECT_EQ(bundle->infoString("CFBundleVersion"), "1.2");
  EXPECT_EQ(bundle->infoString("Number"), std::nullopt);
  EXPECT_EQ(bundle->infoString("Missing"), std::nullopt);
  EXPECT_EQ(bundle->servicesPortNames(), (std::vector<std::string>{"app.one", "app.two"}));

  testing::writeText(root / "Contents" / "Info.plist",
                     std::string(std::begin(kBinaryInfo), std::end(kBinaryInfo)));
  EXPECT_EQ(Bundle::open(root)->servicesPortNames(), (std::vector<std::string>{"a.b", "c.d"}));
}

TEST(BundleTest, MainBundleOfAnExecutable) {
  const struct {
    const char* executable;
    const char* bundle;
  } cases[] = {
      {"/Users/a/Library/Services/Q.service/Contents/MacOS/Q",
       "/Users/a/Library/Services/Q.service"},
      {"/opt/tonebrook/bin/provider", "/opt/tonebrook/bin"},
      {"/x/MacOS/tool", "/x/MacOS"},
      {"/x/Contents/tool", "/x/Contents"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.executable);
    EXPECT_EQ(mainBundleOfExecutable(c.executable), fs::path(c.bundle));
  }
}

}  // namespace
}  // namespace platform
