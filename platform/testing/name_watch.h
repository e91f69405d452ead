#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "platform/core/descriptor.h"

namespace platform::testing {

// NameWatch records the name of every entry that appears in one directory, created there or
// renamed into it, so that a test can account for files that live only a moment (a request
// that is queued and taken between two looks). Nothing is dropped silently: when the kernel's
// event queue overflowed, collect throws instead of answering an incomplete list.
class NameWatch {
 public:
  // Watches `directory` (never through a link in its place); throws errnoError when the kernel
  // refuses.
  explicit NameWatch(const std::filesystem::path& directory);

  // collect: the names that appeared since the last call, in the order they appeared, without
  // waiting. Throws Error when events were lost.
  std::vector<std::string> collect();

 private:
  std::filesystem::path directory_;
  Descriptor fd_;
};

}  // namespace platform::testing
