#include "provider/selection.h"

#include <algorithm>
#include <optional>

#include "exchange/constants.h"

namespace provider {
namespace {

using FinderConversion::Bytes;
using platform::Url;

std::vector<Url> urlsOfPaths(const std::vector<std::string>& paths) {
  bool allAbsolute = std::all_of(paths.begin(), paths.end(),
                                 [](const std::string& path) { return path.starts_with('/'); });
  if (!allAbsolute) throw FinderConversion::failure(std::string(chooseLocalFilesSentence));
  std::vector<Url> urls;
  urls.reserve(paths.size());
  for (const std::string& path : paths) urls.push_back(Url::fromFilePath(path));
  return urls;
}

// ScopedAccess holds security-scoped access to one location for its lifetime, when granted.
class ScopedAccess {
 public:
  ScopedAccess(platform::Desktop& desktop, const Url& location)
      : desktop_(desktop),
        location_(location),
        started_(desktop.startAccessingSecurityScopedResource(location)) {}
  ScopedAccess(const ScopedAccess&) = delete;
  ScopedAccess& operator=(const ScopedAccess&) = delete;
  ~ScopedAccess() {
    if (started_) desktop_.stopAccessingSecurityScopedResource(location_);
  }

 private:
  platform::Desktop& desktop_;
  const Url& location_;
  bool started_;
};

std::optional<Bytes> bookmarkFor(platform::Desktop& desktop, const Url& location) {
  ScopedAccess access(desktop, location);
  try {
    return desktop.bookmarks().make(location);
  } catch (const std::exception&) {
    return std::nullopt;  // the input simply goes without a bookmark
  }
}

}  // namespace

std::vector<Url> readSelection(const platform::Pasteboard& pasteboard) {
  std::optional<std::vector<Url>> urls = pasteboard.readFileURLs();
  const auto& filenames = pasteboard.filenames();
  if (urls) return *std::move(urls);
  if (!filenames || !filenames->paths) {
    throw FinderConversion::failure(std::string(chooseLocalFilesSentence));
  }
  return urlsOfPaths(*filenames->paths);
}

FinderConversion::Request makeRequest(platform::Desktop& desktop, const std::vector<Url>& selection,
                                      const std::string& format) {
  FinderConversion::Request request;
  request.version = FinderConversion::protocolVersion;
  request.id = platform::Uuid::random();
  request.format = format;
  for (const Url& location : selection) {
    request.inputs.push_back(FinderConversion::Input{location, bookmarkFor(desktop, location)});
  }
  return request;
}

}  // namespace provider
