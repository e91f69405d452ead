#pragma once

#include <filesystem>
#include <random>
#include <string>
#include <system_error>

namespace test_support {

// TempDirectory is a fresh directory under the system's temporary directory, removed with
// everything in it when the object goes. Every suite makes its directories with it.
class TempDirectory {
 public:
  explicit TempDirectory(const std::string& prefix = "tonebrook-test") {
    std::random_device random;
    path_ = std::filesystem::temp_directory_path() /
            (prefix + "-" + std::to_string(random()) + std::to_string(random()));
    std::filesystem::create_directory(path_);
  }
  ~TempDirectory() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  TempDirectory(const TempDirectory&) = delete;
  TempDirectory& operator=(const TempDirectory&) = delete;

  const std::filesystem::path& path() const noexcept { return path_; }
  std::filesystem::path operator/(const std::filesystem::path& relative) const {
    return path_ / relative;
  }

 private:
  std::filesystem::path path_;
};

}  // namespace test_support
