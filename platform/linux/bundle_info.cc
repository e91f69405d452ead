// Bundle::open for the Linux backend: Info is Contents/Info.plist, an XML or binary property
// list read through libplist.
#include "platform/linux/bundle_info.h"

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
PlistPtr parseDictionary(std::string_view bytes) {
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

// keyHoldsNul: the dictionary key of `value` holds a NUL byte. libplist's key getters abort the
// process on such a key (an assertion that the key's length is its C-string length), and a
// binary property list can carry one (a UTF-16 NUL), so the key is looked at through the XML
// writer, which writes every byte of it.
bool keyHoldsNul(plist_t value) {
  plist_t key = plist_dict_item_get_key(value);
  char* xml = nullptr;
  std::uint32_t length = 0;
  plist_to_xml(key, &xml, &length);
  const bool nul =
      xml != nullptr && std::string_view(xml, length).find('\0') != std::string_view::npos;
  plist_to_xml_free(xml);
  return nul;
}

// everyKeyIsText: no key of the dictionary `root` holds a NUL byte. Walks values only: reading
// a key is what aborts.
bool everyKeyIsText(plist_t root) {
  plist_dict_iter iterator = nullptr;
  plist_dict_new_iter(root, &iterator);
  bool text = true;
  for (plist_t value = nullptr; text;) {
    plist_dict_next_item(root, iterator, nullptr, &value);
    if (value == nullptr) break;
    text = !keyHoldsNul(value);
  }
  std::free(iterator);  // NOLINT: libplist hands out a malloc'd iterator
  return text;
}

// infoOf: the string values of the Info dictionary `root` and its Services port names. An Info
// with a key that holds a NUL byte is no Info a bundle would carry, and the keys it shadows
// would be ambiguous (libplist looks keys up as C strings): it reads as an empty Info.
Bundle::Info infoOf(plist_t root) {
  if (!everyKeyIsText(root)) return {};
  Bundle::Info info;
  plist_dict_iter iterator = nullptr;
  plist_dict_new_iter(root, &iterator);
  for (;;) {
    char* key = nullptr;
    plist_t value = nullptr;
    plist_dict_next_item(root, iterator, &key, &value);
    if (value == nullptr) {
      std::free(key);  // NOLINT: libplist hands out malloc'd keys
      break;
    }
    std::string name = key != nullptr ? std::string(key) : std::string();
    std::free(key);  // NOLINT: libplist hands out malloc'd keys
    // Looked up again by name: of two equal keys the lookup's answer is the one that counts.
    if (auto text = stringValue(plist_dict_get_item(root, name.c_str()))) {
      info.strings.emplace(std::move(name), std::move(*text));
    }
  }
  std::free(iterator);  // NOLINT: the iterator is malloc'd too

  plist_t services = plist_dict_get_item(root, "NSServices");
  if (services == nullptr || plist_get_node_type(services) != PLIST_ARRAY) return info;
  std::set<std::string> seen;
  for (std::uint32_t i = 0; i < plist_array_get_size(services); ++i) {
    plist_t item = plist_array_get_item(services, i);
    if (plist_get_node_type(item) != PLIST_DICT) continue;
    auto name = stringValue(plist_dict_get_item(item, "NSPortName"));
    if (name && !name->empty() && seen.insert(*name).second) {
      info.servicesPortNames.push_back(*name);
    }
  }
  return info;
}

}  // namespace

Bundle::Info readBundleInfo(std::string_view bytes) {
  if (bytes.size() > kInfoLimit) return {};
  if (auto root = parseDictionary(bytes)) return infoOf(root.get());
  return {};
}

std::optional<Bundle> Bundle::open(const std::filesystem::path& directory) {
  struct stat facts {};
  if (directory.empty() || ::stat(directory.c_str(), &facts) != 0 || !S_ISDIR(facts.st_mode)) {
    return std::nullopt;
  }
  Bundle::Info info;
  if (auto bytes = readInfoFile(directory / "Contents" / "Info.plist"))
    info = readBundleInfo(*bytes);
  return Bundle(directory, std::move(info));
}

}  // namespace platform
