#pragma once

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace platform {

// Bundle is a directory read as an application or add-on bundle, with what this system uses of
// its Info: the values that are strings and the Services port names.
class Bundle {
 public:
  // Info is what a backend read from a bundle's Info.
  struct Info {
    std::map<std::string, std::string> strings;  // the top-level values that are strings
    std::vector<std::string> servicesPortNames;  // distinct NSPortNames, in order of first use
  };

  Bundle(std::filesystem::path url, Info info);

  // open gives no bundle for a missing path or a regular file; a directory without a readable
  // Info is a bundle without identifier or Info values. Each backend defines it, reading Info
  // the platform's way (Linux: Contents/Info.plist through libplist, in
  // platform/linux/bundle_info.cc).
  static std::optional<Bundle> open(const std::filesystem::path& directory);

  const std::filesystem::path& url() const noexcept { return url_; }
  // identifier: CFBundleIdentifier when it is a string.
  std::optional<std::string> identifier() const { return infoString("CFBundleIdentifier"); }
  // infoString: the Info value under `key` when it is a string; nullopt when absent or of
  // another kind.
  std::optional<std::string> infoString(const std::string& key) const;
  // executablePath: Contents/MacOS/<CFBundleExecutable>, when the key is one file name: a
  // non-empty string without "/" or NUL bytes, neither "." nor ".." (anything else would name
  // another file than one in Contents/MacOS).
  std::optional<std::filesystem::path> executablePath() const;
  // servicesPortNames: each distinct NSPortName of the NSServices items, in order of first use.
  std::vector<std::string> servicesPortNames() const { return info_.servicesPortNames; }

 private:
  std::filesystem::path url_;
  Info info_;
};

// mainBundleOfExecutable: for <B>/Contents/MacOS/<file> the bundle directory <B>, else the
// executable's directory.
std::filesystem::path mainBundleOfExecutable(const std::filesystem::path& realExecutablePath);

}  // namespace platform
