// Launching and finding applications with real processes: the small report_app in test
// bundles tells what it was started with.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <future>
#include <sstream>
#include <thread>

#include "platform/core/spawn.h"
#include "platform/desktop/desktop.h"
#include "support/temp_directory.h"
#include "test_bundles.h"

namespace platform {
namespace {

namespace fs = std::filesystem;
constexpr const char* kIdentifier = "app.tonebrook.LaunchTest";

struct Outcome {
  std::optional<RunningApplication> instance;
  std::optional<Error> error;
  bool onAnotherThread = false;
};

// Report is what report_app wrote about itself.
struct Report {
  std::vector<std::string> arguments;
  std::string pid;
  std::string sid;
  std::vector<std::string> descriptors;  // "<fd> <target>"
  std::string blockedSignals;
  std::string ignoredSignals;
};

class LaunchTest : public ::testing::Test {
 protected:
  // hostBundle makes a bundle whose executable is a copy of report_app.
  fs::path hostBundle(const std::string& name, const std::string& identifier = kIdentifier) {
    const auto bundle = testing::makeBundle(directory.path() / name, identifier);
    fs::copy_file(DESKTOP_REPORT_APP, executableOf(bundle));
    return bundle;
  }
  static fs::path executableOf(const fs::path& bundle) {
    return bundle / "Contents" / "MacOS" / "Host";
  }

  Outcome launch(const fs::path& bundle, std::vector<std::string> arguments) {
    auto promise = std::make_shared<std::promise<Outcome>>();
    auto calls = std::make_shared<std::atomic<int>>(0);
    completionCalls.push_back(calls);
    const auto caller = std::this_thread::get_id();
    desktop->openApplication(bundle, {false, true, std::move(arguments)},
                             [=](auto instance, auto error) {
                               if (++*calls == 1) {
                                 promise->set_value(Outcome{std::move(instance), std::move(error),
                                                            std::this_thread::get_id() != caller});
                               }
                             });
    auto future = promise->get_future();
    EXPECT_EQ(future.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    return future.get();
  }

  static Report readReport(const fs::path& path) {
    for (int i = 0; i < 500 && !fs::exists(path); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    Report report;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);) {
      const auto space = line.find(' ');
      const auto key = line.substr(0, space);
      const auto value = line.substr(space + 1);
      if (key == "arg") report.arguments.push_back(value);
      if (key == "pid") report.pid = value;
      if (key == "sid") report.sid = value;
      if (key == "fd") report.descriptors.push_back(value);
      if (key == "SigBlk") report.blockedSignals = value;
      if (key == "SigIgn") report.ignoredSignals = value;
    }
    return report;
  }

  // gone: /proc no longer lists the process (not even as a zombie) within five seconds.
  static bool gone(int pid) {
    const fs::path stat = "/proc/" + std::to_string(pid) + "/stat";
    for (int i = 0; i < 500; ++i) {
      if (!fs::exists(stat)) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    std::ifstream in(stat);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ADD_FAILURE() << "still listed: " << text;
    return false;
  }

  test_support::TempDirectory directory;
  std::unique_ptr<Desktop> desktop = makeDesktop(0, nullptr);
  std::vector<std::shared_ptr<std::atomic<int>>> completionCalls;
};

TEST_F(LaunchTest, TheLaunchedProcessGetsExactlyItsArgumentsAndNothingElse) {
  const auto bundle = hostBundle("Tonebrook.app");
  const auto reportPath = directory.path() / "report";
  // A descriptor opened without close-on-exec must still not reach the child.
  std::FILE* leaky = std::fopen((directory.path() / "leaky").c_str(), "w");
  ASSERT_NE(leaky, nullptr);
  // An ignored signal is not passed on either: the child starts with default handling.
  const auto previous = std::signal(SIGPIPE, SIG_IGN);
  const std::vector<std::string> arguments{reportPath.string(), "0", "--finder-service",
                                           "with space",        "",  "\xc3\xbcnicode",
                                           "--x=\"quoted\""};
  const Outcome outcome = launch(bundle, arguments);
  std::fclose(leaky);
  std::signal(SIGPIPE, previous);

  ASSERT_FALSE(outcome.error) << outcome.error->description();
  ASSERT_TRUE(outcome.instance);
  EXPECT_TRUE(outcome.onAnotherThread);
  EXPECT_EQ(outcome.instance->bundleURL, fs::canonical(bundle));
  const Report report = readReport(reportPath);
  std::vector<std::string> expected{executableOf(bundle).string()};
  expected.insert(expected.end(), arguments.begin(), arguments.end());
  EXPECT_EQ(report.arguments, expected);
  EXPECT_EQ(report.pid, std::to_string(outcome.instance->pid));
  EXPECT_EQ(report.sid, report.pid) << "a session of its own";
  EXPECT_EQ(report.descriptors,
            (std::vector<std::string>{"0 /dev/null", "1 /dev/null", "2 /dev/null"}));
  EXPECT_EQ(report.blockedSignals, "0000000000000000");
  // glibc's spawn leaves only its own internal signals (32, 33) ignored.
  const auto ignored = std::stoull(report.ignoredSignals, nullptr, 16);
  EXPECT_EQ(ignored & (1ULL << (SIGPIPE - 1)), 0u) << report.ignoredSignals;
  EXPECT_TRUE(gone(outcome.instance->pid)) << "reaped, no zombie";
  EXPECT_EQ(*completionCalls[0], 1);
}

TEST_F(LaunchTest, SpawnAndExecFailuresAreErrnoErrorsNamingThePath) {
  const auto plain = hostBundle("Plain.app");
  fs::permissions(executableOf(plain), fs::perms::owner_read | fs::perms::owner_write);
  const auto garbage = testing::makeBundle(directory.path() / "Garbage.app", kIdentifier);
  testing::writeText(executableOf(garbage), "neither a binary nor a script\n");
  fs::permissions(executableOf(garbage), fs::perms::owner_all);
  const auto empty = testing::makeBundle(directory.path() / "Empty.app", kIdentifier);
  const auto missing = directory.path() / "Missing.app";
  const struct {
    const char* name;
    fs::path bundle;
    int code;
    fs::path named;
  } cases[] = {
      {"not executable", plain, EACCES, executableOf(plain)},
      {"not a program", garbage, ENOEXEC, executableOf(garbage)},
      {"no executable in the bundle", empty, ENOENT, executableOf(empty)},
      {"no bundle", missing, ENOENT, missing},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const Outcome outcome = launch(c.bundle, {"unused", "0"});
    EXPECT_FALSE(outcome.instance);
    ASSERT_TRUE(outcome.error);
    EXPECT_TRUE(outcome.onAnotherThread);
    EXPECT_EQ(outcome.error->domain(), kPosixDomain);
    EXPECT_EQ(outcome.error->code(), c.code);
    EXPECT_EQ(outcome.error->description(), errnoError(c.code, c.named.string()).description());
  }
}

TEST_F(LaunchTest, AnExecutableLinkedIntoAnotherCopyReportsThatCopy) {
  const auto other = hostBundle("Other/Tonebrook.app");
  const auto bound = testing::makeBundle(directory.path() / "Bound/Tonebrook.app", kIdentifier);
  fs::create_symlink(executableOf(other), executableOf(bound));
  const Outcome outcome = launch(bound, {(directory.path() / "report").string(), "0"});
  ASSERT_TRUE(outcome.instance);
  EXPECT_EQ(outcome.instance->bundleURL, fs::canonical(other));
  EXPECT_TRUE(gone(outcome.instance->pid));
}

TEST_F(LaunchTest, RunningApplicationsAreBundledBinariesWithTheIdentifierInPidOrder) {
  const auto first = hostBundle("First.app");
  const auto second = hostBundle("Second.app");
  const auto stranger = hostBundle("Stranger.app", "app.tonebrook.Stranger");
  // An interpreted script runs as its interpreter: not a running application.
  const auto script = testing::makeBundle(directory.path() / "Script.app", kIdentifier);
  testing::writeText(executableOf(script), "#!/bin/sh\nsleep 2\n");
  fs::permissions(executableOf(script), fs::perms::owner_all);

  std::vector<RunningApplication> expected;
  for (const auto& bundle : {first, second, stranger, script}) {
    const auto report = directory.path() / ("report-" + bundle.stem().string());
    const Outcome outcome = launch(bundle, {report.string(), "2"});
    ASSERT_TRUE(outcome.instance);
    if (bundle == script) continue;
    readReport(report);  // running its own code by now
    if (bundle != stranger) expected.push_back(*outcome.instance);
  }
  std::sort(expected.begin(), expected.end(),
            [](const auto& a, const auto& b) { return a.pid < b.pid; });
  const auto found = desktop->runningApplications(kIdentifier);
  ASSERT_EQ(found.size(), expected.size());
  for (std::size_t i = 0; i < found.size(); ++i) {
    EXPECT_EQ(found[i].pid, expected[i].pid);
    EXPECT_EQ(found[i].bundleURL, expected[i].bundleURL);
  }
  EXPECT_TRUE(desktop->runningApplications("app.tonebrook.Nobody").empty());
}

// HomeOverride sets this process's HOME (nullopt: unsets it) until the object goes.
class HomeOverride {
 public:
  explicit HomeOverride(const std::optional<std::string>& home) {
    if (const char* saved = std::getenv("HOME")) saved_ = saved;
    apply(home);
  }
  HomeOverride(const HomeOverride&) = delete;
  HomeOverride& operator=(const HomeOverride&) = delete;
  ~HomeOverride() { apply(saved_); }

 private:
  static void apply(const std::optional<std::string>& home) {
    if (home) {
      ::setenv("HOME", home->c_str(), 1);
    } else {
      ::unsetenv("HOME");
    }
  }
  std::optional<std::string> saved_;
};

// Only the hosts of this user's session count: a process of the bundle counts when the home its
// environment gives (HOME when set and absolute, else the user database entry) is ours.
TEST_F(LaunchTest, RunningApplicationsServeTheSameHome) {
  const fs::path bundle = hostBundle("Tonebrook.app");
  const fs::path home = directory.path() / "home";
  fs::create_directories(home);
  fs::create_directory_symlink(home, directory.path() / "link to home");
  struct Case {
    const char* name;
    std::optional<std::string> homeVariable;  // nullopt: HOME not set
    bool foundFromHome;                       // our HOME is `home`
    bool foundFromUserDatabaseHome;           // our HOME is not set
  };
  const Case cases[] = {
      {"the same home", home.string(), true, false},
      {"the same home spelt with a trailing slash", home.string() + "/", true, false},
      {"a link to the same home", (directory.path() / "link to home").string(), true, false},
      {"another home", (directory.path() / "other home").string(), false, false},
      {"no HOME: the user database entry", std::nullopt, false, true},
      {"a relative HOME: the user database entry", "home", false, true},
  };
  std::vector<ChildProcess> running;
  for (const Case& c : cases) {
    const fs::path report = directory.path() / ("report " + std::to_string(running.size()));
    SpawnOptions options;
    options.arguments = {executableOf(bundle).string(), report.string(), "30"};
    // The child's environment is sorted: HOME comes after 10 KB of others and one whose name
    // is HOME's beginning.
    options.environment["A_PADDING"] = std::string(10000, 'x');
    options.environment["HOM"] = (directory.path() / "other home").string();
    if (c.homeVariable) options.environment["HOME"] = *c.homeVariable;
    if (!c.homeVariable) options.unset.push_back("HOME");
    running.push_back(ChildProcess::spawn(options));
    readReport(report);  // running its own code by now
  }

  for (const bool ourHomeIsSet : {true, false}) {
    const HomeOverride override(ourHomeIsSet ? std::optional(home.string()) : std::nullopt);
    const auto found = desktop->runningApplications(kIdentifier);
    for (std::size_t i = 0; i < std::size(cases); ++i) {
      SCOPED_TRACE(std::string(cases[i].name) + (ourHomeIsSet ? "" : ", our HOME not set"));
      const bool expected =
          ourHomeIsSet ? cases[i].foundFromHome : cases[i].foundFromUserDatabaseHome;
      const bool listed = std::any_of(found.begin(), found.end(), [&](const auto& application) {
        return application.pid == running[i].pid();
      });
      EXPECT_EQ(listed, expected);
    }
  }
}

}  // namespace
}  // namespace platform
