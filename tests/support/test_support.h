#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/core/error.h"
#include "platform/core/spawn.h"
#include "platform/core/uuid.h"
#include "support/temp_directory.h"

namespace test_support {

namespace fs = std::filesystem;

using test_support::TempDirectory;

inline void writeText(const fs::path& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary);
  out << text;
}

inline std::string readText(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// names: the entry names of a directory, hidden ones included.
inline std::set<std::string> names(const fs::path& directory) {
  std::set<std::string> result;
  for (const auto& entry : fs::directory_iterator(directory)) {
    result.insert(entry.path().filename().string());
  }
  return result;
}

inline fs::perms permissions(const fs::path& path) {
  return fs::symlink_status(path).permissions() & fs::perms::mask;
}

inline void makeFifo(const fs::path& path) {
  platform::SpawnOptions options;
  options.arguments = {"mkfifo", path.string()};
  options.searchPath = true;
  ASSERT_EQ(platform::ChildProcess::spawn(options).wait(), 0);
}

// LeftFile is a temporary file that a killed writer left behind, in a table of what a starting
// process must remove (its own, once a minute old) and what it must leave.
struct LeftFile {
  const char* name;
  fs::path file;
  bool old;      // last written two minutes ago, else just now
  bool removed;  // expected gone afterwards
};

// leaveFiles writes every file of `left` ("partial"), with its folders and its age.
inline void leaveFiles(const std::vector<LeftFile>& left) {
  for (const LeftFile& file : left) {
    fs::create_directories(file.file.parent_path());
    writeText(file.file, "partial");
    if (file.old) {
      fs::last_write_time(file.file, fs::file_time_type::clock::now() - std::chrono::minutes(2));
    }
  }
}

// expectRemovedAsMeant: each file of `left` is gone exactly when it was meant to go.
inline void expectRemovedAsMeant(const std::vector<LeftFile>& left) {
  for (const LeftFile& file : left) {
    SCOPED_TRACE(file.name);
    EXPECT_EQ(fs::exists(file.file), !file.removed);
  }
}

// waitUntil polls `condition` for up to five seconds.
inline bool waitUntil(const std::function<bool()>& condition) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (std::chrono::steady_clock::now() < deadline) {
    if (condition()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return condition();
}

// Expectations on the project's one error type.
#define EXPECT_FAILURE_SENTENCE(statement, sentence)         \
  try {                                                      \
    statement;                                               \
    ADD_FAILURE() << "no error from " #statement;            \
  } catch (const platform::Error& error) {                   \
    EXPECT_EQ(error.domain(), "Tonebrook.FinderConversion"); \
    EXPECT_EQ(error.code(), 1);                              \
    EXPECT_EQ(error.description(), sentence);                \
  }

#define EXPECT_ERROR_DOMAIN(statement, expectedDomain)                \
  try {                                                               \
    statement;                                                        \
    ADD_FAILURE() << "no error from " #statement;                     \
  } catch (const platform::Error& error) {                            \
    EXPECT_EQ(error.domain(), expectedDomain) << error.description(); \
  }

#define EXPECT_ERRNO(statement, expectedErrno)                                \
  try {                                                                       \
    statement;                                                                \
    ADD_FAILURE() << "no error from " #statement;                             \
  } catch (const platform::Error& error) {                                    \
    EXPECT_EQ(error.domain(), platform::kPosixDomain) << error.description(); \
    EXPECT_EQ(error.code(), expectedErrno) << error.description();            \
  }

}  // namespace test_support
