#include "platform/desktop/bundle.h"

#include <utility>

namespace platform {

Bundle::Bundle(std::filesystem::path url, Info info)
    : url_(std::move(url)), info_(std::move(info)) {}

std::optional<std::string> Bundle::infoString(const std::string& key) const {
  const auto found = info_.strings.find(key);
  if (found == info_.strings.end()) return std::nullopt;
  return found->second;
}

std::optional<std::filesystem::path> Bundle::executablePath() const {
  const auto name = infoString("CFBundleExecutable");
  if (!name || name->empty() || name->find('/') != std::string::npos) return std::nullopt;
  return url_ / "Contents" / "MacOS" / *name;
}

std::filesystem::path mainBundleOfExecutable(const std::filesystem::path& realExecutablePath) {
  const auto directory = realExecutablePath.parent_path();
  const auto contents = directory.parent_path();
  if (directory.filename() == "MacOS" && contents.filename() == "Contents") {
    return contents.parent_path();
  }
  return directory;
}

}  // namespace platform
