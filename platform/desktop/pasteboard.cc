#include "platform/desktop/pasteboard.h"

#include <utility>

namespace platform {
namespace {

// isFileScheme: the URL text's scheme is "file" in any case.
bool isFileScheme(std::string_view text) {
  static constexpr std::string_view kFile = "file:";
  if (text.size() < kFile.size()) return false;
  for (std::size_t i = 0; i < kFile.size(); ++i) {
    const char c = text[i];
    const char lower = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    if (lower != kFile[i]) return false;
  }
  return true;
}

}  // namespace

void InProcessPasteboard::clearContents() {
  entries_.reset();
  filenames_.reset();
}

void InProcessPasteboard::writeURLs(const std::vector<Url>& urls) {
  for (const auto& url : urls) appendEntry(url.text());
  if (!entries_) entries_.emplace();
}

void InProcessPasteboard::writeEntries(const std::vector<std::string>& texts) {
  if (!entries_) entries_.emplace();
  for (const auto& text : texts) appendEntry(text);
}

void InProcessPasteboard::appendEntry(std::string_view text) {
  if (!entries_) entries_.emplace();
  entries_->texts.append(text);
  entries_->ends.push_back(entries_->texts.size());
}

void InProcessPasteboard::setFilenames(FilenamesValue value) {
  filenames_ = std::move(value);
}

template <typename Visit>
bool InProcessPasteboard::Entries::each(Visit&& visit) const {
  std::size_t start = 0;
  for (const std::size_t end : ends) {
    if (!visit(std::string_view(texts).substr(start, end - start))) return false;
    start = end;
  }
  return true;
}

std::optional<std::size_t> InProcessPasteboard::fileURLCount() const {
  if (!entries_) return std::nullopt;
  std::size_t count = 0;
  const bool allURLs = entries_->each([&count](std::string_view text) {
    if (!Url::isValid(text)) return false;
    if (isFileScheme(text)) ++count;
    return true;
  });
  if (!allURLs) return std::nullopt;
  return count;
}

std::optional<std::vector<Url>> InProcessPasteboard::readFileURLs() const {
  if (!entries_) return std::nullopt;
  std::vector<Url> files;
  const bool allURLs = entries_->each([&files](std::string_view text) {
    auto url = Url::parse(text);
    if (!url) return false;
    if (url->scheme() == "file") files.push_back(std::move(*url));
    return true;
  });
  if (!allURLs) return std::nullopt;
  return files;
}

}  // namespace platform
