#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "platform/core/url.h"

namespace services {

// ClientArguments is what `tonebrook-services [--notify] USERDATA [--] FILE...` asks for.
struct ClientArguments {
  bool notify = false;
  std::string userData;
  std::vector<platform::Url> files;
};

inline constexpr std::string_view kUsageSentence =
    "Usage: tonebrook-services [--notify] USERDATA [--] FILE...";

// parseClientArguments reads the arguments after the program name. Options come first and end
// at "--" or at USERDATA; one "--" right after USERDATA ends them as well, and every word after
// it is a FILE, whatever it starts with. A FILE is read by fileLocation. Throws platform::Error
// with kUsageSentence when USERDATA or every FILE is missing or an option is unknown, or
// fileLocation's error for a FILE.
ClientArguments parseClientArguments(const std::vector<std::string>& arguments,
                                     const std::filesystem::path& currentDirectory);

// fileLocation turns one FILE argument into the URL sent to the service: a file URI ("file:" in
// any case) is passed on as given; any other "scheme://" text is refused with the sentence
// "Only local files are supported."; everything else is a path, absolute or relative to
// `currentDirectory`, turned into a file URL from its bytes. Throws platform::Error, with a
// sentence naming a FILE that is not a valid URI.
platform::Url fileLocation(const std::string& argument,
                           const std::filesystem::path& currentDirectory);

// notificationTexts: summary and body of the desktop notification for an outcome.
struct NotificationTexts {
  std::string summary;
  std::string body;
};
NotificationTexts successTexts(const ClientArguments& arguments);
NotificationTexts failureTexts(const std::string& sentence);

}  // namespace services
