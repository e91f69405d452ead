#include "platform/desktop/bundle.h"

#include <string_view>
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
  // One file inside Contents/MacOS: "/", "." and ".." would lead elsewhere, and a NUL byte (a
  // property list may hold one in a string) would cut the path the system opens short, so that
  // another file than the named one would run.
  if (!name || name->empty() || *name == "." || *name == ".." ||
      name->find_first_of(std::string_view("/\0", 2)) != std::string::npos) {
    return std::nullopt;
  }
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
