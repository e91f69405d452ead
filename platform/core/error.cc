#include "platform/core/error.h"

#include <cstring>
#include <utility>

namespace platform {

Error::Error(std::string domain, int code, std::string description)
    : domain_(std::move(domain)), code_(code), description_(std::move(description)) {}

Error errnoError(int error, std::string_view path) {
  std::string description(path);
  description += ": ";
  description += std::strerror(
      error);  // NOLINT(concurrency-mt-unsafe): glibc's is thread-safe for known codes
  return Error(std::string(kPosixDomain), error, std::move(description));
}

Error jsonError(std::string description) {
  return Error(std::string(kJsonDomain), 1, std::move(description));
}

Error jsonEncodingError(std::string description) {
  return Error(std::string(kJsonEncodingDomain), 1, std::move(description));
}

}  // namespace platform
