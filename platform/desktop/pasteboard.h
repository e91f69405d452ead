#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/core/url.h"

namespace platform {

// Pasteboard is one named pasteboard as a Services entry sees it: a list of entries (URL texts
// or other texts) and an optional "NSFilenamesPboardType" property list. A backend may wrap its
// own pasteboard behind it; InProcessPasteboard is the one kept in this process. Not
// thread-safe: used on the main thread.
class Pasteboard {
 public:
  // FilenamesValue is the "NSFilenamesPboardType" value: a list of strings, or some other
  // value (kept only as "not a list of strings").
  struct FilenamesValue {
    std::optional<std::vector<std::string>> paths;  // nullopt: a value of another kind
  };

  virtual void clearContents() = 0;
  // writeURLs appends URL entries (writeObjects: with URL objects).
  virtual void writeURLs(const std::vector<Url>& urls) = 0;
  // writeEntries appends raw entries; a text that is not an absolute URL is kept as a non-URL.
  virtual void writeEntries(const std::vector<std::string>& texts) = 0;
  virtual void setFilenames(FilenamesValue value) = 0;

  // readFileURLs: nullopt when no entry list was written or any entry is not a URL; else the
  // entries that are file URLs, in order (other URLs skipped; empty for an empty list).
  virtual std::optional<std::vector<Url>> readFileURLs() const = 0;
  // fileURLCount: nullopt exactly when readFileURLs is; else how many URLs it would give. Makes
  // no copies, so that a long list can be judged by its length cheaply.
  virtual std::optional<std::size_t> fileURLCount() const = 0;
  // filenames: the "NSFilenamesPboardType" value, or nullopt when there is none.
  virtual std::optional<FilenamesValue> filenames() const = 0;

 protected:
  Pasteboard() = default;
  Pasteboard(const Pasteboard&) = default;
  Pasteboard& operator=(const Pasteboard&) = default;
  ~Pasteboard() = default;
};

// InProcessPasteboard is a pasteboard held in this process's memory: what the Linux desktop and
// the test double hand out by name, and what a Services call off the bus is read into.
class InProcessPasteboard final : public Pasteboard {
 public:
  void clearContents() override;
  void writeURLs(const std::vector<Url>& urls) override;
  void writeEntries(const std::vector<std::string>& texts) override;
  void setFilenames(FilenamesValue value) override;
  std::optional<std::vector<Url>> readFileURLs() const override;
  std::optional<std::size_t> fileURLCount() const override;
  std::optional<FilenamesValue> filenames() const override { return filenames_; }
  // appendEntry appends one raw entry, as writeEntries does for a list.
  void appendEntry(std::string_view text);

 private:
  // Entries are kept end to end in one text: a list of a million URLs is two allocations.
  struct Entries {
    std::string texts;
    std::vector<std::size_t> ends;  // where each entry ends in `texts`
    template <typename Visit>
    bool each(Visit&& visit) const;  // visits in order while `visit` returns true
  };

  std::optional<Entries> entries_;
  std::optional<FilenamesValue> filenames_;
};

}  // namespace platform
