#include "host/addon_entries.h"

#include <gtest/gtest.h>

#include "support/temp_directory.h"
#include "support/test_support.h"

namespace {

namespace fs = std::filesystem;
using test_support::names;
using test_support::permissions;
using test_support::writeText;

TEST(AddOnEntries, ActivationFileNamesTheProviderAsOneQuotedWord) {
  EXPECT_EQ(host::activationFileText("/h/Library/Services/T Q.service/Contents/MacOS/P"),
            "[D-BUS Service]\nName=app.tonebrook.QuickConversion\n"
            "Exec='/h/Library/Services/T Q.service/Contents/MacOS/P'\n");
  EXPECT_EQ(host::shellQuote("it's"), "'it'\\''s'");
}

TEST(AddOnEntries, NautilusScriptPassesItsArgumentsAsAList) {
  const std::string script = host::nautilusScriptText("/h/.local/bin/tonebrook-services", "mp3");
  EXPECT_EQ(script.rfind("#!/bin/sh\n", 0), 0u);
  EXPECT_NE(script.find("exec '/h/.local/bin/tonebrook-services' --notify mp3 \"$@\"\n"),
            std::string::npos);
  EXPECT_EQ(script.find("NAUTILUS_SCRIPT"), std::string::npos);
  EXPECT_EQ(script.find("eval"), std::string::npos);
}

TEST(AddOnEntries, ServiceMenuOffersEveryFormatForLocalAudioFiles) {
  const std::string menu = host::serviceMenuText("/h/bin/tb $x\"\\%.d/tonebrook-services");
  for (const char* line : {"MimeType=audio/*;\n", "X-KDE-Protocols=file\n", "Type=Service\n",
                           "Actions=convertToWAV;convertToMP3;convertToAAC;convertToFLAC;"
                           "convertToOGG;\n",
                           "Name=Convert to FLAC\n"}) {
    SCOPED_TRACE(line);
    EXPECT_NE(menu.find(line), std::string::npos);
  }
  // Quoted for the Exec rules ("$", quote and backslash escaped), then for the key file ("\"
  // doubled, "%" doubled); the files come as %U, unquoted.
  EXPECT_NE(
      menu.find("Exec=\"/h/bin/tb \\\\$x\\\\\"\\\\\\\\%%.d/tonebrook-services\" --notify ogg %U\n"),
      std::string::npos)
      << menu;
}

// A killed installer leaves the client's hidden copy and the entries' temporary files; the next
// one removes those, and only those.
TEST(AddOnEntries, OnlyTheirOwnLeftoversAreRemoved) {
  test_support::TempDirectory directory{"addon-entries"};
  const host::EntryLocations locations{.dataHome = directory / "data",
                                       .binDirectory = directory / "bin"};
  const fs::path services = locations.activationFile().parent_path();
  const fs::path menus = locations.serviceMenu().parent_path();
  const fs::path scripts = locations.nautilusScripts();
  for (const fs::path& folder : {locations.binDirectory, services, menus, scripts}) {
    fs::create_directories(folder);
  }
  const std::vector<fs::path> owned = {
      locations.binDirectory / ".tonebrook-services.0A1B2C3D-4E5F-4061-8293-A4B5C6D7E8F9",
      services / ".app.tonebrook.QuickConversion.service.tmp-Ab12Cd",
      scripts / ".Convert to MP3.tmp-Ab12Cd",
      menus / ".tonebrook-convert.desktop.tmp-Ab12Cd",
  };
  const std::vector<fs::path> others = {
      locations.binDirectory / ".tonebrook-services.mine",
      services / ".org.example.Other.service.tmp-Ab12Cd",
      menus / ".other.desktop.tmp-Ab12Cd",
  };
  for (const fs::path& file : owned) writeText(file, "partial");
  for (const fs::path& file : others) writeText(file, "someone else's");

  host::removeLeftovers(locations);
  for (const fs::path& file : owned) EXPECT_FALSE(fs::exists(file)) << file;
  for (const fs::path& file : others) EXPECT_TRUE(fs::exists(file)) << file;
}

// Scripts and the service menu are executable, the activation file is not, and nothing
// temporary is left. (That each appears with its mode, never before a chmod, is the staged
// write's: tests/platform/core/files_test.cc.)
TEST(AddOnEntries, EntriesHaveTheirModesAndNoTemporaryFileIsLeft) {
  test_support::TempDirectory directory{"addon-entries"};
  const host::EntryLocations locations{.dataHome = directory / "data",
                                       .binDirectory = directory / "bin"};
  const fs::path client = directory / "client";
  writeText(client, "#!/bin/sh\n");
  host::writeEntries(locations, "/h/Library/Services/P", client);
  constexpr fs::perms kScript = fs::perms::owner_all | fs::perms::group_read |
                                fs::perms::group_exec | fs::perms::others_read |
                                fs::perms::others_exec;
  EXPECT_EQ(permissions(locations.client()), kScript);
  EXPECT_EQ(permissions(locations.nautilusScripts() / "Convert to MP3"), kScript);
  EXPECT_EQ(permissions(locations.serviceMenu()), kScript);
  EXPECT_EQ(permissions(locations.activationFile()),
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                fs::perms::others_read);
  EXPECT_EQ(names(locations.nautilusScripts()).size(), 5u) << "no temporary file is left";
}

}  // namespace
