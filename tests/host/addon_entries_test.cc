#include "host/addon_entries.h"

#include <gtest/gtest.h>

namespace {

namespace fs = std::filesystem;

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

}  // namespace
