#pragma once

#include <cstddef>
#include <string>

#include "platform/core/descriptor.h"
#include "platform/core/spawn.h"

namespace platform {

// OutputCapture collects what a child writes to one of its standard streams, through a pipe
// that this process reads without ever waiting. Only the first `limit` bytes are kept; the rest
// is read and dropped, so a child that writes without end neither fills this process's memory
// nor waits on a full pipe for longer than between two calls of collect.
//
// Use: pass target() in SpawnOptions (output or errors), call closeWriteEnd once the child is
// started, then collect while it runs and once more after it has ended, which then takes
// everything it wrote.
class OutputCapture {
 public:
  // Throws errnoError when the pipe cannot be made.
  explicit OutputCapture(std::size_t limit);

  // target: the pipe's write end, for SpawnOptions; valid until closeWriteEnd.
  StreamTarget target() const { return StreamTarget::toDescriptor(writeEnd_.get()); }
  // closeWriteEnd gives up this process's copy of the write end.
  void closeWriteEnd() noexcept { writeEnd_.reset(); }
  // collect reads what the pipe holds now; never blocks. Read errors end the capture quietly:
  // what was kept so far stays.
  void collect();
  // text: the first `limit` bytes written so far (as collected).
  const std::string& text() const noexcept { return text_; }

 private:
  Descriptor readEnd_;
  Descriptor writeEnd_;
  std::size_t limit_;
  std::string text_;
};

}  // namespace platform
