#include "services/client_arguments.h"

#include <algorithm>
#include <cctype>

#include "exchange/records.h"
#include "platform/core/error.h"
#include "platform/core/unicode.h"

namespace services {
namespace {

constexpr std::string_view kDomain = "Tonebrook.ServicesClient";

platform::Error usageError(std::string sentence) {
  return platform::Error(std::string(kDomain), 1, std::move(sentence));
}

bool isFileUri(const std::string& argument) {
  if (argument.size() < 5) return false;
  std::string scheme = argument.substr(0, 5);
  std::transform(scheme.begin(), scheme.end(), scheme.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return scheme == "file:";
}

bool isAsciiLetter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
bool isSchemeCharacter(char c) {
  return isAsciiLetter(c) || (c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.';
}

// hasOtherScheme: `argument` starts like a URI of a scheme other than "file" ("sftp://",
// "trash:///"). Such a location has no path here; taken for a relative path it would name a
// file that does not exist.
bool hasOtherScheme(std::string_view argument) {
  const std::size_t separator = argument.find("://");
  if (separator == std::string_view::npos || separator == 0 || !isAsciiLetter(argument[0])) {
    return false;
  }
  const std::string_view scheme = argument.substr(0, separator);
  return std::all_of(scheme.begin(), scheme.end(), isSchemeCharacter);
}

}  // namespace

platform::Url fileLocation(const std::string& argument,
                           const std::filesystem::path& currentDirectory) {
  if (isFileUri(argument)) {
    if (auto url = platform::Url::parse(argument)) return *url;
    throw usageError("\u201C" + argument + "\u201D is not a valid file address.");
  }
  if (hasOtherScheme(argument)) throw usageError(std::string(FinderConversion::kLocalitySentence));
  // Paths keep their bytes as they are: no normalisation, no decoding.
  const std::filesystem::path path(argument);
  return platform::Url::fromFilePath(path.is_absolute() ? path : currentDirectory / path);
}

ClientArguments parseClientArguments(const std::vector<std::string>& arguments,
                                     const std::filesystem::path& currentDirectory) {
  ClientArguments parsed;
  std::size_t next = 0;
  for (; next < arguments.size() && arguments[next].size() > 1 && arguments[next][0] == '-';
       ++next) {
    if (arguments[next] == "--") {
      ++next;
      break;
    }
    if (arguments[next] != "--notify") throw usageError(std::string(kUsageSentence));
    parsed.notify = true;
  }
  if (next >= arguments.size()) throw usageError(std::string(kUsageSentence));
  parsed.userData = arguments[next++];
  // The file-manager entries pass a "--" here, so that no selected name is ever read as an
  // option.
  if (next < arguments.size() && arguments[next] == "--") ++next;
  if (next >= arguments.size()) throw usageError(std::string(kUsageSentence));
  for (; next < arguments.size(); ++next) {
    parsed.files.push_back(fileLocation(arguments[next], currentDirectory));
  }
  return parsed;
}

NotificationTexts successTexts(const ClientArguments& arguments) {
  const std::string format = platform::asciiUpperCase(arguments.userData);
  const std::size_t count = arguments.files.size();
  return {"Converting to " + format,
          "Tonebrook is converting " + std::to_string(count) + (count == 1 ? " file." : " files.")};
}

NotificationTexts failureTexts(const std::string& sentence) {
  return {"Tonebrook could not convert", sentence};
}

}  // namespace services
