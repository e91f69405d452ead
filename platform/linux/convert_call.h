#pragma once

#include <systemd/sd-bus.h>

#include <string>

#include "platform/desktop/pasteboard.h"

namespace platform {

// readConvertCall reads the arguments of a Convert(a{sv} pasteboard, s userData) call, from the
// current position of `call`, into `pasteboard` and `userData`. Pasteboard keys:
// "public.file-url" must hold an `as` of entries (an empty one is an empty list, another kind
// sets `error` to InvalidArgs); "NSFilenamesPboardType" may hold anything (an `as` is a path
// list); other keys are skipped. Returns sd-bus's convention: >= 0 when read, else a negative
// errno, or the result of setting `error`.
int readConvertCall(sd_bus_message* call, InProcessPasteboard& pasteboard, std::string& userData,
                    sd_bus_error* error);

}  // namespace platform
