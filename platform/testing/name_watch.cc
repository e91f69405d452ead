#include "platform/testing/name_watch.h"

#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/core/error.h"

namespace platform::testing {

NameWatch::NameWatch(const std::filesystem::path& directory) : directory_(directory) {
  fd_ = Descriptor(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC));
  if (!fd_.valid()) throw errnoError(errno, "inotify");
  if (::inotify_add_watch(fd_.get(), directory.c_str(),
                          IN_CREATE | IN_MOVED_TO | IN_ONLYDIR | IN_DONT_FOLLOW) < 0) {
    throw errnoError(errno, directory.native());
  }
}

std::vector<std::string> NameWatch::collect() {
  std::vector<std::string> names;
  alignas(inotify_event) char buffer[16384];
  for (;;) {
    const ssize_t count = ::read(fd_.get(), buffer, sizeof buffer);
    if (count < 0 && errno == EINTR) continue;
    if (count <= 0) break;  // EAGAIN: nothing more pending
    for (ssize_t at = 0; at < count;) {
      inotify_event event{};
      std::memcpy(&event, buffer + at, sizeof event);
      if ((event.mask & IN_Q_OVERFLOW) != 0) {
        throw Error(std::string(kPosixDomain), EOVERFLOW,
                    directory_.native() + ": events were lost");
      }
      if (event.len > 0) names.emplace_back(buffer + at + sizeof event);
      at += static_cast<ssize_t>(sizeof event + event.len);
    }
  }
  return names;
}

}  // namespace platform::testing
