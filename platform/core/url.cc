#include "platform/core/url.h"

#include <uriparser/Uri.h>

#include <algorithm>
#include <cctype>
#include <system_error>

namespace platform {
namespace {

// ParsedUri frees uriparser's parse result on every way out.
class ParsedUri {
 public:
  explicit ParsedUri(std::string_view text) {
    const char* errorPosition = nullptr;
    ok_ = uriParseSingleUriExA(&uri_, text.data(), text.data() + text.size(), &errorPosition) ==
          URI_SUCCESS;
  }
  ParsedUri(const ParsedUri&) = delete;
  ParsedUri& operator=(const ParsedUri&) = delete;
  ~ParsedUri() { uriFreeUriMembersA(&uri_); }

  bool ok() const { return ok_; }
  const UriUriA& uri() const { return uri_; }

 private:
  UriUriA uri_{};
  bool ok_ = false;
};

std::string rangeText(const UriTextRangeA& range) {
  if (range.first == nullptr || range.afterLast == nullptr) return {};
  return std::string(range.first, range.afterLast);
}

bool unreservedOrSlash(unsigned char c) {
  return std::isalnum(c) != 0 || c == '-' || c == '.' || c == '_' || c == '~' || c == '/';
}

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// percentDecode turns %XX escapes into bytes; nullopt for a broken escape or a NUL byte, which
// no path can hold.
std::optional<std::string> percentDecode(std::string_view text) {
  std::string bytes;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') {
      bytes += text[i];
      continue;
    }
    if (i + 2 >= text.size()) return std::nullopt;
    const int high = hexValue(text[i + 1]);
    const int low = hexValue(text[i + 2]);
    if (high < 0 || low < 0 || (high == 0 && low == 0)) return std::nullopt;
    bytes += static_cast<char>(high * 16 + low);
    i += 2;
  }
  return bytes;
}

// pathText is the path part of an already valid absolute URL: after the scheme and the
// authority, before any query or fragment.
std::string_view pathText(std::string_view text) {
  std::size_t start = text.find(':') + 1;
  if (text.substr(start, 2) == "//") {
    start = text.find_first_of("/?#", start + 2);
    if (start == std::string_view::npos) return {};
  }
  const std::size_t end = text.find_first_of("?#", start);
  return text.substr(start, end == std::string_view::npos ? text.size() - start : end - start);
}

// plainlyValid: a scheme, ":" and then only unreserved characters, "/" and well-formed "%XX"
// escapes. Every such text is an absolute URI (whatever follows the scheme reads as an authority
// of a registered name and a path, or as a path), so uriparser need not be asked: the common
// case, a file URL as fromFilePath makes it, stays cheap in lists of any length.
bool plainlyValid(std::string_view text) {
  const std::size_t colon = text.find(':');
  if (colon == 0 || colon == std::string_view::npos ||
      std::isalpha(static_cast<unsigned char>(text[0])) == 0) {
    return false;
  }
  for (std::size_t i = 1; i < colon; ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (std::isalnum(c) == 0 && c != '+' && c != '-' && c != '.') return false;
  }
  for (std::size_t i = colon + 1; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c == '%') {
      if (i + 2 >= text.size() || hexValue(text[i + 1]) < 0 || hexValue(text[i + 2]) < 0) {
        return false;
      }
      i += 2;
    } else if (!unreservedOrSlash(c)) {
      return false;
    }
  }
  return true;
}

}  // namespace

bool Url::isValid(std::string_view text) {
  if (plainlyValid(text)) return true;
  const ParsedUri parsed(text);
  return parsed.ok() && parsed.uri().scheme.first != nullptr;
}

std::optional<Url> Url::parse(std::string_view text) {
  if (!isValid(text)) return std::nullopt;
  return Url(std::string(text));
}

Url Url::fromFilePath(const std::filesystem::path& absolutePath) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string text = "file://";
  std::filesystem::path path = absolutePath;
  if (path.is_relative()) {
    // A relative path names a file below the working directory, as a shell would read it.
    std::error_code error;
    std::filesystem::path absolute = std::filesystem::absolute(path, error);
    if (!error) path = std::move(absolute);
  }
  const std::string& bytes = path.native();
  if (bytes.empty() || bytes.front() != '/') text += '/';
  for (const char byte : bytes) {
    const auto c = static_cast<unsigned char>(byte);
    if (unreservedOrSlash(c)) {
      text += byte;
    } else {
      text += '%';
      text += kHex[c >> 4];
      text += kHex[c & 0x0f];
    }
  }
  return Url(std::move(text));
}

std::string Url::scheme() const {
  std::string scheme = text_.substr(0, text_.find(':'));
  std::transform(scheme.begin(), scheme.end(), scheme.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return scheme;
}

std::optional<std::string> Url::host() const {
  // An authority starts with "//" right after the scheme; uriparser's host range does not tell
  // an empty host from a missing one in every version, so the text decides.
  const std::size_t colon = text_.find(':');
  if (text_.compare(colon + 1, 2, "//") != 0) return std::nullopt;
  const ParsedUri parsed(text_);
  if (!parsed.ok()) return std::nullopt;
  const UriUriA& uri = parsed.uri();
  if (uri.hostData.ip6 != nullptr || uri.hostData.ipFuture.first != nullptr) {
    std::string literal = "[";  // an IP literal keeps its brackets
    literal += rangeText(uri.hostText);
    literal += ']';
    return literal;
  }
  return rangeText(uri.hostText);
}

bool Url::isLocalFile() const {
  if (scheme() != "file") return false;
  const std::optional<std::string> name = host();
  return !name || name->empty() || *name == "localhost";
}

std::optional<std::filesystem::path> Url::filePath() const {
  if (!isLocalFile()) return std::nullopt;
  const std::string_view encoded = pathText(text_);
  if (encoded.empty() || encoded.front() != '/') return std::nullopt;
  std::optional<std::string> bytes = percentDecode(encoded);
  if (!bytes) return std::nullopt;
  return std::filesystem::path(std::move(*bytes));
}

}  // namespace platform
