#include "provider/selection.h"

#include <algorithm>
#include <optional>

#include "exchange/constants.h"
#include "exchange/records.h"

namespace provider {
namespace {

using FinderConversion::Bytes;
using platform::Url;

std::vector<Url> urlsOfPaths(const std::vector<std::string>& paths) {
  bool allAbsolute = std::all_of(paths.begin(), paths.end(),
                                 [](const std::string& path) { return path.starts_with('/'); });
  if (!allAbsolute) throw FinderConversion::failure(std::string(kChooseLocalFilesSentence));
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
  // A list longer than enqueue admits gets the sentence enqueue would give, before a copy of
  // it is made (the format's refusal is the same sentence).
  const std::optional<std::size_t> count = pasteboard.fileURLCount();
  if (count && *count > FinderConversion::kMaximumInputs) {
    throw FinderConversion::failure(std::string(FinderConversion::kSelectionSentence));
  }
  std::optional<std::vector<Url>> urls = count ? pasteboard.readFileURLs() : std::nullopt;
  const auto& filenames = pasteboard.filenames();
  if (urls) return *std::move(urls);
  if (!filenames || !filenames->paths) {
    throw FinderConversion::failure(std::string(kChooseLocalFilesSentence));
  }
  return urlsOfPaths(*filenames->paths);
}

FinderConversion::Request makeRequest(platform::Desktop& desktop, std::vector<Url> selection,
                                      const std::string& format) {
  FinderConversion::Request request;
  request.version = FinderConversion::protocolVersion;
  request.id = platform::Uuid::random();
  request.format = format;
  // enqueue refuses more than kMaximumInputs files anyway: a bookmark for each would be work
  // (one file lookup each) that nobody sees.
  const bool bookmarks = selection.size() <= FinderConversion::kMaximumInputs;
  request.inputs.reserve(selection.size());
  for (Url& location : selection) {
    std::optional<Bytes> bookmark = bookmarks ? bookmarkFor(desktop, location) : std::nullopt;
    request.inputs.push_back(FinderConversion::Input{std::move(location), std::move(bookmark)});
  }
  return request;
}

}  // namespace provider
