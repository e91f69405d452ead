#include "platform/linux/directory_events.h"

#include <poll.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <algorithm>
#include <utility>

namespace platform {

std::optional<DirectoryEvents> DirectoryEvents::open(const std::filesystem::path& directory) {
  Descriptor fd(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC));
  if (!fd.valid()) return std::nullopt;
  // IN_ONLYDIR: a path that is not a directory is refused rather than watched as a file;
  // IN_DONT_FOLLOW: a link in place of the directory is not the directory.
  if (::inotify_add_watch(fd.get(), directory.c_str(),
                          IN_MOVED_TO | IN_CLOSE_WRITE | IN_ONLYDIR | IN_DONT_FOLLOW) < 0) {
    return std::nullopt;
  }
  return DirectoryEvents(std::move(fd));
}

bool DirectoryEvents::wait(std::chrono::milliseconds timeout) {
  pollfd watched{fd_.get(), POLLIN, 0};
  const auto milliseconds =
      std::clamp<std::chrono::milliseconds::rep>(timeout.count(), 0, 86'400'000);
  if (::poll(&watched, 1, static_cast<int>(milliseconds)) <= 0) return false;
  return drain();
}

bool DirectoryEvents::drain() {
  // Large enough for many events with names; the names themselves are not needed.
  alignas(inotify_event) char buffer[4096];
  bool any = false;
  while (::read(fd_.get(), buffer, sizeof buffer) > 0) any = true;
  return any;
}

}  // namespace platform
