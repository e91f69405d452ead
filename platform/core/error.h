#pragma once

#include <exception>
#include <string>
#include <string_view>

namespace platform {

// Error is the one exception type of the project: a domain, a code and a readable
// description. Errors the system detects itself use domain "Tonebrook.FinderConversion"
// and code 1 (see FinderConversion::failure); platform errors keep their own domain.
class Error : public std::exception {
 public:
  Error(std::string domain, int code, std::string description);

  const std::string& domain() const noexcept { return domain_; }
  int code() const noexcept { return code_; }
  const std::string& description() const noexcept { return description_; }
  const char* what() const noexcept override { return description_.c_str(); }

  bool operator==(const Error& other) const noexcept {
    return domain_ == other.domain_ && code_ == other.code_ && description_ == other.description_;
  }

 private:
  std::string domain_;
  int code_;
  std::string description_;
};

// Domains of platform errors; each has one helper that builds it.
inline constexpr std::string_view kPosixDomain = "NSPOSIXErrorDomain";
inline constexpr std::string_view kJsonDomain = "Tonebrook.JSONDecoding";
inline constexpr std::string_view kJsonEncodingDomain = "Tonebrook.JSONEncoding";
inline constexpr std::string_view kBookmarkDomain = "Tonebrook.Bookmark";
inline constexpr std::string_view kLaunchDomain = "Tonebrook.Launch";

// errnoError is the file-system error for `error` (an errno value) met while working on
// `path`: domain kPosixDomain, code `error`, description "<path>: <strerror(error)>".
Error errnoError(int error, std::string_view path);

// jsonError is a decoding error: domain kJsonDomain, code 1, the given description.
Error jsonError(std::string description);

// jsonEncodingError: a value has no JSON form (a text that is not valid UTF-8): domain
// kJsonEncodingDomain, code 1, the given description.
Error jsonEncodingError(std::string description);

}  // namespace platform
