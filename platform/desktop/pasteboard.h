#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/core/url.h"

namespace platform {

// Pasteboard is a named, in-process store of what a caller hands to a Services entry: a list of
// entries (URL texts or other texts) and an optional "NSFilenamesPboardType" property list.
// Not thread-safe: used on the main thread.
class Pasteboard {
 public:
  // FilenamesValue is the "NSFilenamesPboardType" value: a list of strings, or some other
  // value (kept only as "not a list of strings").
  struct FilenamesValue {
    std::optional<std::vector<std::string>> paths;  // nullopt: a value of another kind
  };

  void clearContents();
  // writeURLs appends URL entries (writeObjects: with URL objects).
  void writeURLs(const std::vector<Url>& urls);
  // writeEntries appends raw entries; a text that is not an absolute URL is kept as a non-URL.
  void writeEntries(const std::vector<std::string>& texts);
  void setFilenames(FilenamesValue value);

  // readFileURLs: nullopt when there are no entries at all or any entry is not a URL; else the
  // entries that are file URLs, in order (other URLs skipped; may be empty).
  std::optional<std::vector<Url>> readFileURLs() const;
  // filenames: the "NSFilenamesPboardType" value, or nullopt when there is none.
  const std::optional<FilenamesValue>& filenames() const noexcept { return filenames_; }

 private:
  std::optional<std::vector<std::string>> entries_;
  std::optional<FilenamesValue> filenames_;
};

}  // namespace platform
