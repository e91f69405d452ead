#pragma once

#include <chrono>
#include <filesystem>
#include <optional>
#include <utility>

#include "platform/core/descriptor.h"

namespace platform {

// DirectoryEvents tells when an entry appears in one directory: a file created and closed there,
// or renamed into it. It only wakes a waiter sooner; callers still look at the directory
// themselves, since events can be lost (a full kernel queue) and say nothing about what changed.
// Move-only; the kernel watch ends with the object.
class DirectoryEvents {
 public:
  // open watches `directory`; nullopt when the kernel refuses (no such directory, inotify
  // instance or watch limits reached), so the caller falls back to polling.
  static std::optional<DirectoryEvents> open(const std::filesystem::path& directory);

  // wait blocks until an entry appears or `timeout` passes, and consumes what arrived; true when
  // something appeared (also when it had appeared before the call).
  bool wait(std::chrono::milliseconds timeout);
  // drain consumes pending events without blocking; true when there were any.
  bool drain();
  // descriptor: readable while events are pending; for a run loop to watch, never to close.
  int descriptor() const noexcept { return fd_.get(); }

 private:
  explicit DirectoryEvents(Descriptor fd) noexcept : fd_(std::move(fd)) {}
  Descriptor fd_;
};

}  // namespace platform
