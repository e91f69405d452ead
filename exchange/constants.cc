#include "exchange/constants.h"

#include "platform/core/files.h"

namespace FinderConversion {

std::filesystem::path stateRoot() {
  return platform::homeDirectory() / "Library/Application Support/Tonebrook/FinderConversion";
}

std::filesystem::path servicesRoot() {
  return platform::homeDirectory() / "Library/Services";
}

Error failure(std::string sentence) {
  return Error(std::string(kErrorDomain), 1, std::move(sentence));
}

void prepare(const std::filesystem::path& directory) {
  platform::createDirectories(directory, 0700);
}

bool sameFile(const std::filesystem::path& first, const std::filesystem::path& second) {
  const std::optional<platform::FileIdentity> one = platform::identity(first);
  if (!one) return false;
  const std::optional<platform::FileIdentity> other = platform::identity(second);
  return other && *one == *other;
}

}  // namespace FinderConversion
