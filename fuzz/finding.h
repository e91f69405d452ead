#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "platform/core/error.h"

// What every fuzz target shares. A fault that is not a crash (a round trip that does not come
// back, an error of the wrong kind) aborts with a message, so that libFuzzer keeps the input
// and reports it like any crash.
namespace fuzz {

[[noreturn]] inline void finding(std::string_view what, std::string_view detail = {}) {
  std::fprintf(stderr, "FINDING: %.*s\n", static_cast<int>(what.size()), what.data());
  if (!detail.empty()) {
    std::fprintf(stderr, "  detail: %.*s\n", static_cast<int>(detail.size()), detail.data());
  }
  std::abort();
}

inline void require(bool holds, std::string_view what, std::string_view detail = {}) {
  if (!holds) finding(what, detail);
}

// requireDomain: a refusal must be an Error of `domain`; anything else is a finding.
inline void requireDomain(const platform::Error& error, std::string_view domain,
                          std::string_view what) {
  require(error.domain() == domain, what, error.domain() + ": " + error.description());
}

inline std::string_view textOf(const std::uint8_t* data, std::size_t size) {
  return {reinterpret_cast<const char*>(data), size};
}

}  // namespace fuzz
