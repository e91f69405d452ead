#include "platform/core/output_capture.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>

#include "platform/core/error.h"

namespace platform {

OutputCapture::OutputCapture(std::size_t limit) : limit_(limit) {
  int ends[2];
  if (::pipe2(ends, O_CLOEXEC) != 0) throw errnoError(errno, "pipe");
  readEnd_ = Descriptor(ends[0]);
  writeEnd_ = Descriptor(ends[1]);
  // Only this end: the child's end stays blocking, as a program expects of its streams.
  const int flags = ::fcntl(readEnd_.get(), F_GETFL);
  if (flags < 0 || ::fcntl(readEnd_.get(), F_SETFL, flags | O_NONBLOCK) != 0) {
    throw errnoError(errno, "pipe");
  }
}

void OutputCapture::collect() {
  std::array<char, 4096> buffer{};
  while (readEnd_.valid()) {
    const ssize_t count = ::read(readEnd_.get(), buffer.data(), buffer.size());
    if (count > 0) {
      const auto room = limit_ - std::min(limit_, text_.size());
      text_.append(buffer.data(), std::min(room, static_cast<std::size_t>(count)));
      continue;
    }
    if (count < 0 && errno == EINTR) continue;
    if (count < 0 && errno == EAGAIN) return;  // nothing more for now
    readEnd_.reset();                          // end of file: every writer is gone
  }
}

}  // namespace platform
