#pragma once

#include <filesystem>
#include <random>
#include <string>
#include <system_error>

namespace platform::testing {

// TempDirectory is a fresh directory under the system's temporary directory, removed with
// everything in it when the object goes.
class TempDirectory {
 public:
  TempDirectory() {
    std::random_device random;
    path_ = std::filesystem::temp_directory_path() /
            ("tonebrook-desktop-" + std::to_string(random()) + std::to_string(random()));
    std::filesystem::create_directory(path_);
  }
  ~TempDirectory() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  TempDirectory(const TempDirectory&) = delete;
  TempDirectory& operator=(const TempDirectory&) = delete;

  const std::filesystem::path& path() const noexcept { return path_; }

 private:
  std::filesystem::path path_;
};

}  // namespace platform::testing
