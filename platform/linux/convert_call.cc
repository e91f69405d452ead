// The arguments of a Convert call off the bus: the a{sv} pasteboard and the user data.
#include "platform/linux/convert_call.h"

#include <cstring>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/core/services_names.h"

namespace platform {
namespace {

// readStrings reads an `as` at the current position, handing each string to `take` while it
// still lies in the message, so that a long list is not copied twice.
template <typename Take>
int readStrings(sd_bus_message* message, Take&& take) {
  int r = sd_bus_message_enter_container(message, 'a', "s");
  if (r < 0) return r;
  const char* text = nullptr;
  while ((r = sd_bus_message_read(message, "s", &text)) > 0) take(std::string_view(text));
  if (r < 0) return r;
  return sd_bus_message_exit_container(message);
}

// readVariantStrings reads a variant holding `as`; 0 when it holds another kind (then skipped).
template <typename Take>
int readVariantStrings(sd_bus_message* message, Take&& take) {
  char type = 0;
  const char* contents = nullptr;
  int r = sd_bus_message_peek_type(message, &type, &contents);
  if (r < 0) return r;
  if (contents == nullptr || std::strcmp(contents, "as") != 0) {
    r = sd_bus_message_skip(message, "v");
    return r < 0 ? r : 0;
  }
  if ((r = sd_bus_message_enter_container(message, 'v', "as")) < 0) return r;
  if ((r = readStrings(message, take)) < 0) return r;
  if ((r = sd_bus_message_exit_container(message)) < 0) return r;
  return 1;
}

// readEntry reads one {sv} of the pasteboard dictionary into `pasteboard`.
int readEntry(sd_bus_message* message, InProcessPasteboard& pasteboard, sd_bus_error* error) {
  const char* key = nullptr;
  int r = sd_bus_message_read(message, "s", &key);
  if (r < 0) return r;
  if (std::strcmp(key, kFileUrlPasteboardKey) == 0) {
    // An empty list is still a list: the selection is then empty, not absent.
    pasteboard.writeEntries({});
    r = readVariantStrings(message,
                           [&pasteboard](std::string_view url) { pasteboard.appendEntry(url); });
    if (r < 0) return r;
    if (r == 0) {
      return sd_bus_error_set(error, SD_BUS_ERROR_INVALID_ARGS,
                              "public.file-url must hold an array of strings");
    }
  } else if (std::strcmp(key, kFilenamesPasteboardKey) == 0) {
    std::vector<std::string> paths;
    r = readVariantStrings(message, [&paths](std::string_view path) { paths.emplace_back(path); });
    if (r < 0) return r;
    pasteboard.setFilenames({r > 0 ? std::optional(std::move(paths)) : std::nullopt});
  } else if ((r = sd_bus_message_skip(message, "v")) < 0) {
    return r;
  }
  return 1;
}

int readPasteboard(sd_bus_message* message, InProcessPasteboard& pasteboard, sd_bus_error* error) {
  int r = sd_bus_message_enter_container(message, 'a', "{sv}");
  if (r < 0) return r;
  while ((r = sd_bus_message_enter_container(message, 'e', "sv")) > 0) {
    if ((r = readEntry(message, pasteboard, error)) < 0) return r;
    if ((r = sd_bus_message_exit_container(message)) < 0) return r;
  }
  if (r < 0) return r;
  return sd_bus_message_exit_container(message);
}

}  // namespace

int readConvertCall(sd_bus_message* call, InProcessPasteboard& pasteboard, std::string& userData,
                    sd_bus_error* error) {
  int r = readPasteboard(call, pasteboard, error);
  if (r < 0) return r;
  const char* text = nullptr;
  if ((r = sd_bus_message_read(call, "s", &text)) < 0) return r;
  userData = text;
  return r;
}

}  // namespace platform
