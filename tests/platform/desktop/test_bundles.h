#pragma once

#include <filesystem>
#include <fstream>
#include <string>

namespace platform::testing {

// infoPlist: an XML Info.plist with the given identifier and executable name.
inline std::string infoPlist(const std::string& identifier, const std::string& executable) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
         "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
         "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
         "<plist version=\"1.0\"><dict>\n"
         "<key>CFBundleIdentifier</key><string>" +
         identifier + "</string>\n<key>CFBundleExecutable</key><string>" + executable +
         "</string>\n</dict></plist>\n";
}

inline void writeText(const std::filesystem::path& path, const std::string& text) {
  std::filesystem::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << text;
}

// makeBundle makes <directory>/Contents/Info.plist and returns <directory>; the executable
// Contents/MacOS/<executable> is left to the caller.
inline std::filesystem::path makeBundle(const std::filesystem::path& directory,
                                        const std::string& identifier,
                                        const std::string& executable = "Host") {
  writeText(directory / "Contents" / "Info.plist", infoPlist(identifier, executable));
  std::filesystem::create_directories(directory / "Contents" / "MacOS");
  return directory;
}

}  // namespace platform::testing
