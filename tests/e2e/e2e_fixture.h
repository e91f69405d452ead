#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/core/spawn.h"
#include "platform/testing/private_bus.h"
#include "platform/testing/processes.h"
#include "support/temp_directory.h"

namespace e2e {

namespace fs = std::filesystem;

// Program is a child started by EndToEnd::start, with the files its standard output and error
// go to.
struct Program {
  platform::ChildProcess process;
  fs::path outputFile;
  fs::path errorsFile;

  int pid() const noexcept { return process.pid(); }
  std::optional<int> waitFor(platform::Seconds timeout) { return process.waitFor(timeout); }
  std::string output() const;  // what it wrote to standard output so far
  std::string errors() const;  // what it wrote to standard error so far
};

// EndToEnd gives each test a private home in a fresh temporary directory, its own copy of the
// built host (so that hosts of tests running in parallel are never "the bound copy running"),
// the built add-on package and client, and optionally a private session bus that starts the
// installed provider on demand. The test process's own HOME points at the private home, since
// the bus passes its environment on to the providers it starts.
class EndToEnd : public ::testing::Test {
 protected:
  // `homeName`: the private home's directory name, which a test may make awkward.
  explicit EndToEnd(std::string homeName = "home") : homeName_(std::move(homeName)) {}
  void SetUp() override;
  void TearDown() override;

  fs::path home() const { return directory_ / homeName_; }
  fs::path stateRoot() const;
  fs::path installedPackage() const;
  fs::path installedProvider() const {
    return installedPackage() / "Contents/MacOS/TonebrookQuickConversion";
  }
  fs::path host() const { return directory_ / "Tonebrook.app/Contents/MacOS/Tonebrook"; }
  fs::path hostBundle() const { return directory_ / "Tonebrook.app"; }
  fs::path builtPackage() const;
  fs::path client() const { return home() / ".local/bin/tonebrook-services"; }
  fs::path directory() const { return directory_.path(); }

  // startBus starts the private session bus; later children use it.
  void startBus();
  // stopBus ends the private session bus (its daemon goes, every connection closes).
  void stopBus() { bus_.reset(); }
  // journalRuns: the system journal takes log lines, so they do not reach standard error.
  static bool journalRuns() { return fs::exists("/run/systemd/journal/socket"); }
  const std::string& busAddress() const;

  // start runs a program with the private home and bus in its environment, in the test's
  // directory, standard input on /dev/null. `environment` is set on top of the test's own.
  // start and run may be called from several threads at once.
  std::unique_ptr<Program> start(std::vector<std::string> arguments,
                                 std::map<std::string, std::string> environment = {});
  // RunResult: exit status (nullopt: still running after the timeout) and standard error.
  struct RunResult {
    std::optional<int> status;
    std::string errors;
    std::string output;
  };
  RunResult run(std::vector<std::string> arguments, double timeoutSeconds = 30,
                std::map<std::string, std::string> environment = {});

  // install runs `Tonebrook --install-addon PACKAGE` and expects success.
  void install(const fs::path& package);
  // packageWithVersion: a copy of the built package whose CFBundleVersion is `version`.
  fs::path packageWithVersion(const std::string& version);
  // audioFile creates a small readable file (not necessarily decodable) in the home.
  fs::path audioFile(const std::string& name);

  // providerPid: the pid in the state root's heartbeat record, when there is one.
  std::optional<int> providerPid() const;
  // rememberProvider: a provider process to end at tear-down if it still runs.
  void rememberProvider(int pid) { providers_.push_back(pid); }
  // waitFor polls `condition` every 20 ms for up to `seconds`.
  static bool waitFor(const std::function<bool()>& condition, double seconds);

 private:
  // Removed after TearDown, which first ends every process that could still write into it.
  test_support::TempDirectory directory_{"tonebrook-e2e"};
  std::string homeName_;
  std::unique_ptr<platform::testing::PrivateBus> bus_;
  std::vector<int> providers_;  // providers seen, ended at tear-down
};

}  // namespace e2e
