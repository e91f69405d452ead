// Builds the D-Bus message a Convert call program describes and reads it the provider's way.
#include "platform/testing/convert_call_program.h"

#include <sys/socket.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <string_view>

#include "platform/core/services_names.h"
#include "platform/core/unicode.h"
#include "platform/linux/convert_call.h"

namespace platform::testing {
namespace {

// ProgramReader hands out the program's bytes in order; past the end it gives zeros and counts
// as done.
class ProgramReader {
 public:
  explicit ProgramReader(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}
  bool done() const { return next_ >= bytes_.size(); }
  std::uint8_t byte() { return done() ? 0 : bytes_[next_++]; }
  std::string text() {
    const std::size_t length = byte();
    const std::size_t available = std::min(length, bytes_.size() - std::min(next_, bytes_.size()));
    std::string raw(reinterpret_cast<const char*>(bytes_.data()) + next_, available);
    next_ += available;
    std::string valid = validUtf8(raw);
    return valid.substr(0, valid.find('\0'));
  }
  bool takeEntry() { return entries_++ < kMaximumProgramEntries && !done(); }

 private:
  std::span<const std::uint8_t> bytes_;
  std::size_t next_ = 0;
  int entries_ = 0;
};

// BuildBus is an sd-bus object on one end of a socket pair: enough for sd-bus to build and seal
// messages, with nobody on the other end.
class BuildBus {
 public:
  BuildBus() {
    int ends[2] = {-1, -1};
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, ends) != 0) return;
    peer_ = ends[1];
    if (sd_bus_new(&bus_) < 0 || sd_bus_set_fd(bus_, ends[0], ends[0]) < 0) {
      ::close(ends[0]);
      return;
    }
    if (sd_bus_start(bus_) < 0) bus_ = sd_bus_unref(bus_);
  }
  ~BuildBus() {
    sd_bus_unref(bus_);
    if (peer_ >= 0) ::close(peer_);
  }
  BuildBus(const BuildBus&) = delete;
  BuildBus& operator=(const BuildBus&) = delete;
  sd_bus* get() const { return bus_; }

 private:
  sd_bus* bus_ = nullptr;
  int peer_ = -1;
};

int appendStrings(sd_bus_message* m, ProgramReader& program, int count) {
  int r = sd_bus_message_open_container(m, 'a', "s");
  for (int i = 0; r >= 0 && i < count; ++i)
    r = sd_bus_message_append(m, "s", program.text().c_str());
  return r < 0 ? r : sd_bus_message_close_container(m);
}

int appendEntries(sd_bus_message* m, ProgramReader& program, int count, int depth);

int appendValue(sd_bus_message* m, ProgramReader& program, int kind, int depth) {
  switch (kind) {
    case 0:
      return appendStrings(m, program, program.byte());
    case 1:
      return sd_bus_message_append(m, "s", program.text().c_str());
    case 2: {
      std::uint32_t bits = 0;
      for (int i = 0; i < 4; ++i) bits |= static_cast<std::uint32_t>(program.byte()) << (8 * i);
      return sd_bus_message_append(m, "i", static_cast<std::int32_t>(bits));
    }
    case 3: {
      int r = sd_bus_message_open_container(m, 'a', "{sv}");
      const int count = program.byte();
      if (r >= 0 && depth < kMaximumProgramDepth) r = appendEntries(m, program, count, depth + 1);
      return r < 0 ? r : sd_bus_message_close_container(m);
    }
    case 4: {
      int r = sd_bus_message_open_container(m, 'v', "as");
      if (r >= 0) r = appendStrings(m, program, program.byte());
      return r < 0 ? r : sd_bus_message_close_container(m);
    }
    case 5: {
      const std::string bytes = program.text();
      return sd_bus_message_append_array(m, 'y', bytes.data(), bytes.size());
    }
    case 6:
      return sd_bus_message_append(m, "b", static_cast<int>(program.byte() & 1));
    default:
      return appendStrings(m, program, 0);
  }
}

// The signature of each value kind inside the variant.
constexpr const char* kKindSignatures[] = {"as", "s", "i", "a{sv}", "v", "ay", "b", "as"};

int appendEntry(sd_bus_message* m, ProgramReader& program, int depth) {
  const std::uint8_t op = program.byte();
  static constexpr const char* kKeys[] = {kFileUrlPasteboardKey, kFilenamesPasteboardKey,
                                          "public.utf8-plain-text"};
  const int keyChoice = op & 3;
  const std::string key = keyChoice == 3 ? program.text() : std::string(kKeys[keyChoice]);
  const int kind = (op >> 2) & 7;
  int r = sd_bus_message_open_container(m, 'e', "sv");
  if (r >= 0) r = sd_bus_message_append(m, "s", key.c_str());
  if (r >= 0) r = sd_bus_message_open_container(m, 'v', kKindSignatures[kind]);
  if (r >= 0) r = appendValue(m, program, kind, depth);
  if (r >= 0) r = sd_bus_message_close_container(m);
  return r < 0 ? r : sd_bus_message_close_container(m);
}

int appendEntries(sd_bus_message* m, ProgramReader& program, int count, int depth) {
  int r = 0;
  for (int i = 0; r >= 0 && i < count && program.takeEntry(); ++i)
    r = appendEntry(m, program, depth);
  return r;
}

}  // namespace

std::optional<ConvertCallReading> readConvertCallProgram(std::span<const std::uint8_t> program) {
  BuildBus bus;
  sd_bus_message* call = nullptr;
  if (bus.get() == nullptr ||
      sd_bus_message_new_method_call(bus.get(), &call, kAddOnPortName, kServicesObjectPath,
                                     kServicesInterface, kServicesConvertMethod) < 0) {
    return std::nullopt;
  }
  ProgramReader reader(program);
  const std::string userData = reader.text();
  int r = sd_bus_message_open_container(call, 'a', "{sv}");
  if (r >= 0) r = appendEntries(call, reader, kMaximumProgramEntries, 0);
  if (r >= 0) r = sd_bus_message_close_container(call);
  if (r >= 0) r = sd_bus_message_append(call, "s", userData.c_str());
  if (r >= 0) r = sd_bus_message_seal(call, 1, 0);
  if (r >= 0) r = sd_bus_message_rewind(call, 1);
  if (r < 0) {
    sd_bus_message_unref(call);
    return std::nullopt;
  }
  ConvertCallReading reading;
  sd_bus_error error{};  // SD_BUS_ERROR_NULL without its C99 compound literal
  reading.result = readConvertCall(call, reading.pasteboard, reading.userData, &error);
  if (error.name != nullptr) reading.errorName = error.name;
  sd_bus_error_free(&error);
  sd_bus_message_unref(call);
  return reading;
}

}  // namespace platform::testing
