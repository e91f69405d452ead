// The Services menu's side of the conversion service: one Convert call over the session bus.
#include "platform/client/services_client.h"

#include <systemd/sd-bus.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string_view>
#include <thread>

#include "platform/core/error.h"
#include "platform/core/services_names.h"
#include "platform/core/unicode.h"

namespace platform {
namespace {

constexpr std::string_view kNoBusSentence =
    "The desktop session bus cannot be reached, so the conversion service is unavailable.";
constexpr std::string_view kNotInstalledSentence =
    "The Tonebrook conversion service is not installed. Install the add-on from Tonebrook and "
    "try again.";
constexpr std::string_view kNotStartedSentence =
    "The Tonebrook conversion service could not be started. Retry in a moment.";
constexpr std::string_view kNoAnswerSentence =
    "The Tonebrook conversion service did not answer in time.";
constexpr std::string_view kUnreachableSentence =
    "The Tonebrook conversion service could not be reached.";

Error clientError(std::string_view sentence) {
  return Error(std::string(kServicesClientDomain), 1, std::string(sentence));
}

struct BusUnref {
  void operator()(sd_bus* bus) const { sd_bus_flush_close_unref(bus); }
};
struct MessageUnref {
  void operator()(sd_bus_message* message) const { sd_bus_message_unref(message); }
};
using BusPtr = std::unique_ptr<sd_bus, BusUnref>;
using MessagePtr = std::unique_ptr<sd_bus_message, MessageUnref>;

// ErrorSlot frees an sd_bus_error on every way out.
struct ErrorSlot {
  sd_bus_error value{};  // SD_BUS_ERROR_NULL without its C99 compound literal
  ~ErrorSlot() { sd_bus_error_free(&value); }
};

bool startsWith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

// sentenceFor turns a bus error into the sentence the user sees.
std::string sentenceFor(const sd_bus_error& error, int result) {
  const std::string_view name = error.name != nullptr ? error.name : "";
  if (name == std::string_view(kServicesFailedError))
    return error.message != nullptr ? error.message : "";
  if (name == SD_BUS_ERROR_SERVICE_UNKNOWN || name == SD_BUS_ERROR_NAME_HAS_NO_OWNER) {
    return std::string(kNotInstalledSentence);
  }
  if (startsWith(name, "org.freedesktop.DBus.Error.Spawn.")) {
    return std::string(kNotStartedSentence);
  }
  if (name == SD_BUS_ERROR_TIMEOUT || name == SD_BUS_ERROR_NO_REPLY ||
      name == "org.freedesktop.DBus.Error.TimedOut" || result == -ETIMEDOUT) {
    return std::string(kNoAnswerSentence);
  }
  return std::string(kUnreachableSentence);
}

void check(int result) {
  if (result < 0) throw clientError(kUnreachableSentence);
}

// appendPasteboard writes the a{sv} pasteboard {"public.file-url": as}.
void appendPasteboard(sd_bus_message* message, const std::vector<Url>& files) {
  check(sd_bus_message_open_container(message, SD_BUS_TYPE_ARRAY, "{sv}"));
  check(sd_bus_message_open_container(message, SD_BUS_TYPE_DICT_ENTRY, "sv"));
  check(sd_bus_message_append_basic(message, SD_BUS_TYPE_STRING, kFileUrlPasteboardKey));
  check(sd_bus_message_open_container(message, SD_BUS_TYPE_VARIANT, "as"));
  check(sd_bus_message_open_container(message, SD_BUS_TYPE_ARRAY, "s"));
  for (const Url& file : files) {
    check(sd_bus_message_append_basic(message, SD_BUS_TYPE_STRING, file.text().c_str()));
  }
  for (int level = 0; level < 4; ++level) check(sd_bus_message_close_container(message));
}

BusPtr openSessionBus() {
  sd_bus* bus = nullptr;
  if (sd_bus_open_user(&bus) < 0) throw clientError(kNoBusSentence);
  return BusPtr(bus);
}

// callOnce sends `call` once, waiting at most `timeout`: sd_bus_call's result, the error in
// `error`.
int callOnce(sd_bus* bus, const ServicesCall& call, std::chrono::milliseconds timeout,
             ErrorSlot& error) {
  sd_bus_message* raw = nullptr;
  check(sd_bus_message_new_method_call(bus, &raw, call.busName.c_str(), kServicesObjectPath,
                                       kServicesInterface, kServicesConvertMethod));
  MessagePtr message(raw);
  appendPasteboard(message.get(), call.files);
  // The bus takes UTF-8 only; URL texts are ASCII, the user data is whatever the caller typed.
  const std::string userData = validUtf8(call.userData);
  check(sd_bus_message_append_basic(message.get(), SD_BUS_TYPE_STRING, userData.c_str()));

  sd_bus_message* reply = nullptr;
  const auto usec = static_cast<std::uint64_t>(std::max<std::int64_t>(timeout.count(), 1)) * 1000U;
  const int result = sd_bus_call(bus, message.get(), usec, &error.value, &reply);
  sd_bus_message_unref(reply);
  return result;
}

// A provider the bus started that cannot serve ends at once; most often it was started from a
// package in the middle of being replaced, so one more start a moment later usually succeeds.
constexpr std::chrono::milliseconds kRestartPause{300};

bool childExited(const sd_bus_error& error) {
  return error.name != nullptr &&
         std::string_view(error.name) == "org.freedesktop.DBus.Error.Spawn.ChildExited";
}

}  // namespace

void callServices(const ServicesCall& call) {
  BusPtr bus = openSessionBus();
  const auto start = std::chrono::steady_clock::now();
  ErrorSlot error;
  int result = callOnce(bus.get(), call, call.timeout, error);
  // The call never reached a provider (it ended before taking the name), so a second one cannot
  // convert anything twice.
  if (result < 0 && childExited(error.value)) {
    std::this_thread::sleep_for(kRestartPause);
    const auto spent = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - start);
    sd_bus_error_free(&error.value);
    result = callOnce(bus.get(), call, call.timeout - spent, error);
  }
  if (result < 0) {
    // A connection that cannot be set up at all fails here rather than at open time.
    if (error.value.name == nullptr && (result == -ENOENT || result == -ECONNREFUSED)) {
      throw clientError(kNoBusSentence);
    }
    throw clientError(sentenceFor(error.value, result));
  }
}

}  // namespace platform
