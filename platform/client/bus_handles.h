#pragma once

#include <systemd/sd-bus.h>

#include <memory>
#include <string>

// Owners of sd-bus objects for the session-bus callers of platform/client: each is released on
// every way out, the connection flushed first so that nothing sent is lost.
namespace platform::bus {

struct BusUnref {
  void operator()(sd_bus* bus) const { sd_bus_flush_close_unref(bus); }
};
struct MessageUnref {
  void operator()(sd_bus_message* message) const { sd_bus_message_unref(message); }
};
struct SlotUnref {
  void operator()(sd_bus_slot* slot) const { sd_bus_slot_unref(slot); }
};
using BusPtr = std::unique_ptr<sd_bus, BusUnref>;
using MessagePtr = std::unique_ptr<sd_bus_message, MessageUnref>;
using SlotPtr = std::unique_ptr<sd_bus_slot, SlotUnref>;

// ErrorSlot frees an sd_bus_error on every way out.
struct ErrorSlot {
  sd_bus_error value{};  // SD_BUS_ERROR_NULL without its C99 compound literal
  ErrorSlot() = default;
  ErrorSlot(const ErrorSlot&) = delete;
  ErrorSlot& operator=(const ErrorSlot&) = delete;
  ~ErrorSlot() { sd_bus_error_free(&value); }
  // text: the error's message, else its name, else the failed call's result.
  std::string text(int result) const {
    if (value.message != nullptr) return value.message;
    if (value.name != nullptr) return value.name;
    return "error " + std::to_string(-result);
  }
};

}  // namespace platform::bus
