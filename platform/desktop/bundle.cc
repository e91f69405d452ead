#include "platform/desktop/bundle.h"

#include <fcntl.h>
#include <plist/plist.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <memory>
#include <set>
#include <utility>

namespace platform {
namespace {

// An Info larger than this is not an Info a bundle would carry; it is read as no Info.
constexpr std::size_t kInfoLimit = 4 * 1024 * 1024;

struct PlistDeleter {
  void operator()(plist_t node) const { plist_free(node); }
};
using PlistPtr = std::unique_ptr<void, PlistDeleter>;

// readInfoFile: the bytes of a regular file of at most kInfoLimit bytes; nullopt otherwise.
std::optional<std::string> readInfoFile(const std::filesystem::path& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return std::nullopt;
  std::optional<std::string> bytes;
  struct stat facts {};
  if (::fstat(fd, &facts) == 0 && S_ISREG(facts.st_mode) &&
      static_cast<std::size_t>(facts.st_size) <= kInfoLimit) {
    bytes.emplace();
    char buffer[65536];
    ssize_t count = 0;
    while ((count = ::read(fd, buffer, sizeof buffer)) != 0) {
      if (count < 0 && errno == EINTR) continue;
      if (count < 0 || bytes->size() + static_cast<std::size_t>(count) > kInfoLimit) {
        bytes.reset();
        break;
      }
      bytes->append(buffer, static_cast<std::size_t>(count));
    }
  }
  ::close(fd);
  return bytes;
}

// parseDictionary: the root of an XML or binary property list when it is a dictionary.
PlistPtr parseDictionary(const std::string& bytes) {
  if (bytes.empty()) return nullptr;
  plist_t root = nullptr;
  // libplist 2.2 reports no status here: a null root is the failure.
  plist_from_memory(bytes.data(), static_cast<std::uint32_t>(bytes.size()), &root);
  PlistPtr owned(root);
  if (owned && plist_get_node_type(root) != PLIST_DICT) owned.reset();
  return owned;
}

std::optional<std::string> stringValue(plist_t node) {
  // plist_get_string_val leaves its output untouched on another kind, so test the kind first.
  if (node == nullptr || plist_get_node_type(node) != PLIST_STRING) return std::nullopt;
  std::uint64_t length = 0;
  const char* text = plist_get_string_ptr(node, &length);
  if (text == nullptr) return std::nullopt;
  return std::string(text, static_cast<std::size_t>(length));
}

std::string toXml(plist_t root) {
  char* xml = nullptr;
  std::uint32_t length = 0;
  plist_to_xml(root, &xml, &length);
  std::string text = xml != nullptr ? std::string(xml, length) : std::string();
  plist_to_xml_free(xml);
  return text;
}

}  // namespace

Bundle::Bundle(std::filesystem::path url, std::string infoXml)
    : url_(std::move(url)), infoXml_(std::move(infoXml)) {}

std::optional<Bundle> Bundle::open(const std::filesystem::path& directory) {
  struct stat facts {};
  if (directory.empty() || ::stat(directory.c_str(), &facts) != 0 || !S_ISDIR(facts.st_mode)) {
    return std::nullopt;
  }
  std::string xml;
  if (auto bytes = readInfoFile(directory / "Contents" / "Info.plist")) {
    if (auto root = parseDictionary(*bytes)) xml = toXml(root.get());
  }
  return Bundle(directory, std::move(xml));
}

std::optional<std::string> Bundle::infoString(const std::string& key) const {
  const auto root = parseDictionary(infoXml_);
  if (!root) return std::nullopt;
  return stringValue(plist_dict_get_item(root.get(), key.c_str()));
}

std::optional<std::filesystem::path> Bundle::executablePath() const {
  const auto name = infoString("CFBundleExecutable");
  if (!name || name->empty() || name->find('/') != std::string::npos) return std::nullopt;
  return url_ / "Contents" / "MacOS" / *name;
}

std::vector<std::string> Bundle::servicesPortNames() const {
  std::vector<std::string> names;
  const auto root = parseDictionary(infoXml_);
  if (!root) return names;
  plist_t services = plist_dict_get_item(root.get(), "NSServices");
  if (services == nullptr || plist_get_node_type(services) != PLIST_ARRAY) return names;
  std::set<std::string> seen;
  for (std::uint32_t i = 0; i < plist_array_get_size(services); ++i) {
    plist_t item = plist_array_get_item(services, i);
    if (plist_get_node_type(item) != PLIST_DICT) continue;
    auto name = stringValue(plist_dict_get_item(item, "NSPortName"));
    if (name && !name->empty() && seen.insert(*name).second) names.push_back(*name);
  }
  return names;
}

std::filesystem::path mainBundleOfExecutable(const std::filesystem::path& realExecutablePath) {
  const auto directory = realExecutablePath.parent_path();
  const auto contents = directory.parent_path();
  if (directory.filename() == "MacOS" && contents.filename() == "Contents") {
    return contents.parent_path();
  }
  return directory;
}

}  // namespace platform
