#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace platform {

// Bundle is a directory read as an application or add-on bundle: its Info is
// Contents/Info.plist (XML or binary property list).
class Bundle {
 public:
  // open gives no bundle for a missing path or a regular file; a directory without a readable
  // Info is a bundle without identifier or Info values.
  static std::optional<Bundle> open(const std::filesystem::path& directory);

  const std::filesystem::path& url() const noexcept { return url_; }
  // identifier: CFBundleIdentifier when it is a string.
  std::optional<std::string> identifier() const { return infoString("CFBundleIdentifier"); }
  // infoString: the Info value under `key` when it is a string; nullopt when absent or of
  // another kind.
  std::optional<std::string> infoString(const std::string& key) const;
  // executablePath: Contents/MacOS/<CFBundleExecutable>, when the key is a non-empty string
  // without "/" (a name with "/" would lead out of Contents/MacOS).
  std::optional<std::filesystem::path> executablePath() const;
  // servicesPortNames: each distinct NSPortName of the NSServices items, in order of first use.
  std::vector<std::string> servicesPortNames() const;

 private:
  Bundle(std::filesystem::path url, std::string infoXml);
  std::filesystem::path url_;
  std::string infoXml_;  // the Info as an XML property list, empty when there is none
};

// mainBundleOfExecutable: for <B>/Contents/MacOS/<file> the bundle directory <B>, else the
// executable's directory.
std::filesystem::path mainBundleOfExecutable(const std::filesystem::path& realExecutablePath);

}  // namespace platform
