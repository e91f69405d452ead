#include "platform/testing/private_bus.h"

#include <fcntl.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <type_traits>

#include "platform/core/descriptor.h"
#include "platform/core/error.h"
#include "platform/core/services_names.h"

namespace platform::testing {
namespace {

std::string xmlEscaped(const std::string& text) {
  std::string escaped;
  for (const char c : text) {
    if (c == '&')
      escaped += "&amp;";
    else if (c == '<')
      escaped += "&lt;";
    else if (c == '>')
      escaped += "&gt;";
    else
      escaped += c;
  }
  return escaped;
}

std::filesystem::path writeConfig(const std::filesystem::path& directory,
                                  const std::filesystem::path& serviceDirectory) {
  const auto config = directory / "bus.conf";
  std::ofstream out(config);
  out << "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
         " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n<busconfig>\n"
         "  <type>session</type>\n  <listen>unix:path="
      << xmlEscaped((directory / "bus").string()) << "</listen>\n";
  if (!serviceDirectory.empty()) {
    out << "  <servicedir>" << xmlEscaped(serviceDirectory.string()) << "</servicedir>\n";
  }
  out << "  <policy context=\"default\">\n    <allow send_destination=\"*\" eavesdrop=\"true\"/>\n"
         "    <allow eavesdrop=\"true\"/>\n    <allow own=\"*\"/>\n  </policy>\n</busconfig>\n";
  if (!out.flush()) throw Error(std::string(kPosixDomain), EIO, config.string() + ": not written");
  return config;
}

// readAddress reads the line the daemon prints once it listens; empty when it exited first.
std::string readAddress(int fd) {
  std::string line;
  char c = 0;
  ssize_t count = 0;
  while ((count = ::read(fd, &c, 1)) != 0) {
    if (count < 0 && errno == EINTR) continue;
    if (count < 0 || c == '\n') break;
    line += c;
  }
  return line;
}

sd_bus* openBus(const std::string& address) {
  sd_bus* bus = nullptr;
  int r = sd_bus_new(&bus);
  if (r >= 0 && (r = sd_bus_set_address(bus, address.c_str())) >= 0 &&
      (r = sd_bus_set_bus_client(bus, 1)) >= 0) {
    r = sd_bus_start(bus);
  }
  if (r < 0) {
    sd_bus_unref(bus);
    throw errnoError(-r, address);
  }
  return bus;
}

int appendValue(sd_bus_message* m, const BusPasteboardValue& value) {
  if (const auto* text = std::get_if<std::string>(&value)) {
    return sd_bus_message_append(m, "v", "s", text->c_str());
  }
  int r = sd_bus_message_open_container(m, 'v', "as");
  if (r < 0 || (r = sd_bus_message_open_container(m, 'a', "s")) < 0) return r;
  for (const auto& text : std::get<std::vector<std::string>>(value)) {
    if ((r = sd_bus_message_append(m, "s", text.c_str())) < 0) return r;
  }
  if ((r = sd_bus_message_close_container(m)) < 0) return r;
  return sd_bus_message_close_container(m);
}

int appendPasteboard(sd_bus_message* m, const BusPasteboard& pasteboard) {
  int r = sd_bus_message_open_container(m, 'a', "{sv}");
  if (r < 0) return r;
  for (const auto& [key, value] : pasteboard) {
    if ((r = sd_bus_message_open_container(m, 'e', "sv")) < 0 ||
        (r = sd_bus_message_append(m, "s", key.c_str())) < 0 || (r = appendValue(m, value)) < 0 ||
        (r = sd_bus_message_close_container(m)) < 0) {
      return r;
    }
  }
  return sd_bus_message_close_container(m);
}

}  // namespace

PrivateBus::PrivateBus(const std::filesystem::path& directory,
                       const std::filesystem::path& serviceDirectory) {
  const auto config = writeConfig(directory, serviceDirectory);
  int pipe[2];
  if (::pipe2(pipe, O_CLOEXEC) != 0) throw errnoError(errno, "pipe");
  const Descriptor readEnd(pipe[0]);
  Descriptor writeEnd(pipe[1]);
  SpawnOptions options;
  options.arguments = {"dbus-daemon", "--config-file=" + config.string(), "--nofork",
                       "--print-address=3"};
  options.searchPath = true;
  options.passed = {{3, writeEnd.get()}};
  // Its complaints (such as an fd limit it may not raise) are no test's business: all its
  // streams stay on /dev/null.
  daemon_ = ChildProcess::spawn(options);
  writeEnd.reset();  // so that the read sees the end when the daemon exits first
  address_ = readAddress(readEnd.get());
  if (address_.empty()) {
    stop();
    throw Error(std::string(kLaunchDomain), 1, "dbus-daemon did not start");
  }
}

PrivateBus::~PrivateBus() {
  stop();
}

void PrivateBus::stop() {
  if (daemon_.exitStatus() || daemon_.pid() < 0) return;
  daemon_.sendSignal(SIGTERM);
  try {
    daemon_.wait();
  } catch (const Error&) {  // NOLINT(bugprone-empty-catch): already reaped, nothing is left
  }
}

void PrivateBus::useAsSessionBus() const {
  useSessionBusAddress(address_);
}

void useSessionBusAddress(const std::string& address) {
  ::setenv("DBUS_SESSION_BUS_ADDRESS", address.c_str(), 1);  // NOLINT(concurrency-mt-unsafe)
  ::unsetenv("DBUS_STARTER_ADDRESS");                        // NOLINT(concurrency-mt-unsafe)
}

BusReply callConvert(const std::string& address, const std::string& destination,
                     const BusPasteboard& pasteboard, const std::string& userData,
                     Seconds timeout) {
  sd_bus* bus = openBus(address);
  sd_bus_message* call = nullptr;
  sd_bus_message* reply = nullptr;
  sd_bus_error error{};  // SD_BUS_ERROR_NULL without its C99 compound literal
  int r = sd_bus_message_new_method_call(bus, &call, destination.c_str(), kServicesObjectPath,
                                         kServicesInterface, kServicesConvertMethod);
  if (r >= 0 && (r = appendPasteboard(call, pasteboard)) >= 0 &&
      (r = sd_bus_message_append(call, "s", userData.c_str())) >= 0) {
    const auto usec = static_cast<std::uint64_t>(timeout.count() * 1e6);
    r = sd_bus_call(bus, call, usec, &error, &reply);
  }
  BusReply outcome;
  if (r < 0) {
    outcome.errorName = error.name != nullptr ? error.name : "errno";
    outcome.errorMessage = error.message != nullptr ? error.message : std::to_string(-r);
  }
  sd_bus_error_free(&error);
  sd_bus_message_unref(reply);
  sd_bus_message_unref(call);
  sd_bus_flush_close_unref(bus);
  return outcome;
}

BusNameOwner::BusNameOwner(const std::string& address, const std::string& name)
    : bus_(openBus(address)) {
  const int r = sd_bus_request_name(bus_, name.c_str(), 0);
  if (r < 0) {
    sd_bus_flush_close_unref(bus_);
    throw errnoError(-r, name);
  }
}

BusNameOwner::~BusNameOwner() {
  sd_bus_flush_close_unref(bus_);
}

}  // namespace platform::testing
