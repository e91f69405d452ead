#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace platform {

// Url is the text of an absolute URL (RFC 3986, with a scheme). Locations in records and on
// pasteboards are Urls; only file URLs can be turned into paths.
class Url {
 public:
  // parse accepts an absolute URL text (scheme required) and keeps the text as given;
  // nullopt when the text is not a valid absolute URL.
  static std::optional<Url> parse(std::string_view text);
  // isValid: parse would accept `text`; copies nothing.
  static bool isValid(std::string_view text);

  // fromFilePath makes the file URL of an absolute path from the path's bytes, percent-encoding
  // every byte outside RFC 3986's unreserved set and "/" (so spaces, "#", "?", "%", newlines and
  // bytes that are not UTF-8 survive); a directory path keeps a trailing "/" only when given one.
  // A relative path is taken relative to the working directory.
  static Url fromFilePath(const std::filesystem::path& absolutePath);

  const std::string& text() const noexcept { return text_; }

  // scheme in lower case, as URL schemes compare without regard to case.
  std::string scheme() const;
  // host: nullopt when the URL has no authority; empty for "file:///x".
  std::optional<std::string> host() const;

  // isLocalFile: scheme "file" (any case) and host absent, empty or exactly "localhost".
  bool isLocalFile() const;
  // filePath: the percent-decoded absolute path of a local file URL; nullopt otherwise.
  std::optional<std::filesystem::path> filePath() const;

  bool operator==(const Url&) const = default;

 private:
  explicit Url(std::string text) : text_(std::move(text)) {}
  std::string text_;
};

}  // namespace platform
