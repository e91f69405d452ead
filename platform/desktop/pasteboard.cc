#include "platform/desktop/pasteboard.h"

#include <utility>

namespace platform {

void InProcessPasteboard::clearContents() {
  entries_.reset();
  filenames_.reset();
}

void InProcessPasteboard::writeURLs(const std::vector<Url>& urls) {
  if (!entries_) entries_.emplace();
  for (const auto& url : urls) entries_->push_back(url.text());
}

void InProcessPasteboard::writeEntries(const std::vector<std::string>& texts) {
  if (!entries_) entries_.emplace();
  entries_->insert(entries_->end(), texts.begin(), texts.end());
}

void InProcessPasteboard::setFilenames(FilenamesValue value) {
  filenames_ = std::move(value);
}

std::optional<std::vector<Url>> InProcessPasteboard::readFileURLs() const {
  if (!entries_ || entries_->empty()) return std::nullopt;
  std::vector<Url> files;
  for (const auto& text : *entries_) {
    auto url = Url::parse(text);
    if (!url) return std::nullopt;
    if (url->scheme() == "file") files.push_back(std::move(*url));
  }
  return files;
}

}  // namespace platform
