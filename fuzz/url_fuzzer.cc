// URL texts as records and pasteboards carry them, and file paths as selections name them: the
// parse, the locality check (Url::isLocalFile, and validate's, which admits a request to the
// queue), the path of a file URL, and the path -> URL -> path round trip.
#include <filesystem>
#include <optional>
#include <string>

#include "exchange/constants.h"
#include "exchange/records.h"
#include "fuzz/finding.h"
#include "platform/core/url.h"

namespace {

using platform::Url;

// admitted: validate accepts a request whose one input is `url`; any other refusal is a
// finding.
bool admitted(const Url& url) {
  FinderConversion::Request request;
  request.format = "mp3";
  request.inputs.push_back(FinderConversion::Input{url, std::nullopt});
  try {
    FinderConversion::validate(request);
    return true;
  } catch (const platform::Error& error) {
    fuzz::require(error.description() == FinderConversion::kLocalitySentence,
                  "validate refuses one input with another sentence", error.description());
    return false;
  }
}

void checkUrl(std::string_view text) {
  const std::optional<Url> url = Url::parse(text);
  fuzz::require(url.has_value() == Url::isValid(text), "parse and isValid disagree", text);
  if (!url) return;
  fuzz::require(url->text() == text, "parse changed the text", text);
  const std::string scheme = url->scheme();
  fuzz::require(!scheme.empty(), "a valid URL without scheme", text);
  // An authority follows "scheme:" as "//"; a URL that has one must report its host, or a
  // remote file URL would pass for a local one.
  const std::optional<std::string> host = url->host();
  const bool hasAuthority = text.substr(text.find(':') + 1).starts_with("//");
  fuzz::require(host.has_value() == hasAuthority, "the host does not match the authority", text);
  const bool local = scheme == "file" && (!host || host->empty() || *host == "localhost");
  fuzz::require(url->isLocalFile() == local, "isLocalFile disagrees with scheme and host", text);

  const std::optional<std::filesystem::path> path = url->filePath();
  if (path) {
    fuzz::require(local, "a file path from a URL that is not local", text);
    fuzz::require(path->is_absolute(), "a relative file path from a file URL", text);
    fuzz::require(path->native().find('\0') == std::string::npos, "a path with a NUL byte", text);
  }
  fuzz::require(admitted(*url) == path.has_value(), "validate's locality differs from filePath",
                text);
  if (admitted(*url)) fuzz::require(local, "validate admits a URL that is not local", text);
}

// checkPath: the file URL of an absolute path is a valid local URL that gives the path back.
void checkPath(std::string_view bytes) {
  std::string path = "/";
  for (const char c : bytes) {
    if (c != '\0') path += c;  // no path holds a NUL byte
  }
  const Url url = Url::fromFilePath(path);
  fuzz::require(Url::isValid(url.text()), "fromFilePath made an invalid URL", url.text());
  fuzz::require(url.isLocalFile(), "fromFilePath made a URL that is not local", url.text());
  const std::optional<std::filesystem::path> back = url.filePath();
  fuzz::require(back && back->native() == path, "fromFilePath(p).filePath() != p", url.text());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text = fuzz::textOf(data, size);
  checkUrl(text);
  checkPath(text);
  return 0;
}
