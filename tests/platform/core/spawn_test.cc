// platform::ChildProcess with real programs: /bin/sh for exit statuses, streams and the
// environment; report_app (from the desktop tests) for descriptors, sessions and signal state.
#include "platform/core/spawn.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/core/files.h"
#include "platform/core/output_capture.h"
#include "platform/testing/processes.h"
#include "support/test_support.h"

namespace platform {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using test_support::readText;
using test_support::TempDirectory;
using test_support::writeText;

SpawnOptions program(std::vector<std::string> arguments) {
  SpawnOptions options;
  options.arguments = std::move(arguments);
  return options;
}

SpawnOptions shell(const std::string& script) {
  return program({"/bin/sh", "-c", script});
}

// listed: /proc still shows the process, if only as a zombie.
bool listed(int pid) {
  return fs::exists("/proc/" + std::to_string(pid));
}

TEST(ChildProcessTest, StatusIsTheExitCodeOrOneHundredTwentyEightPlusTheSignal) {
  const struct {
    const char* script;
    int status;
  } cases[] = {
      {"exit 0", 0},
      {"exit 3", 3},
      {"exit 255", 255},
      {"kill -HUP $$", 128 + SIGHUP},
      {"kill -TERM $$", 128 + SIGTERM},
      {"kill -KILL $$", 128 + 9},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.script);
    ChildProcess child = ChildProcess::spawn(shell(c.script));
    EXPECT_EQ(child.exitStatus(), std::nullopt);
    EXPECT_EQ(child.wait(), c.status);
    EXPECT_EQ(child.exitStatus(), c.status);
    EXPECT_EQ(child.waitFor(0s), c.status) << "a reaped child keeps its status";
    EXPECT_FALSE(listed(child.pid())) << "reaped";
  }
}

TEST(ChildProcessTest, WaitForGivesUpAtItsTimeoutAndAKilledChildIsReapedByTheNextWait) {
  ChildProcess child = ChildProcess::spawn(program({"/bin/sleep", "30"}));
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(child.waitFor(150ms), std::nullopt);
  const auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_GE(waited, 150ms);
  EXPECT_LT(waited, 2s);
  EXPECT_TRUE(testing::processAlive(child.pid()));

  child.kill();
  EXPECT_EQ(child.waitFor(10s), 128 + 9);
  child.kill();  // nothing to signal any more
  EXPECT_EQ(child.wait(), 128 + 9);
}

TEST(ChildProcessTest, DestroyingTheOwnerLeavesNoProcessAndNoZombie) {
  const struct {
    const char* name;
    const char* script;
  } cases[] = {
      {"still running", "sleep 30"},
      {"ended, never waited for", "exit 0"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    int pid = -1;
    {
      ChildProcess child = ChildProcess::spawn(shell(c.script));
      pid = child.pid();
      ASSERT_TRUE(listed(pid));
      if (std::string(c.script) == "exit 0") {
        ASSERT_TRUE(test_support::waitUntil([&] { return !testing::processAlive(pid); }));
        ASSERT_TRUE(listed(pid)) << "a zombie until reaped";
      }
    }
    EXPECT_FALSE(listed(pid));
  }
}

TEST(ChildProcessTest, OwnershipMovesWithTheObject) {
  ChildProcess owner;
  EXPECT_EQ(owner.pid(), -1);
  int pid = -1;
  {
    ChildProcess first = ChildProcess::spawn(program({"/bin/sleep", "30"}));
    pid = first.pid();
    owner = std::move(first);
    EXPECT_EQ(first.pid(), -1);  // NOLINT(bugprone-use-after-move): moved-from owns nothing
  }
  EXPECT_EQ(owner.pid(), pid);
  EXPECT_TRUE(testing::processAlive(pid)) << "the moved-from object did not kill it";

  ChildProcess moved(std::move(owner));
  moved = ChildProcess::spawn(shell("exit 0"));
  EXPECT_FALSE(listed(pid)) << "the replaced child was killed and reaped";
  EXPECT_EQ(moved.wait(), 0);
}

// Report is what report_app wrote about itself.
struct Report {
  std::string pid;
  std::string sid;
  std::vector<std::string> descriptors;  // "<fd> <target>"
  unsigned long long blocked = 0;
  unsigned long long ignored = 0;
};

Report runReportApp(SpawnOptions options, const TempDirectory& directory) {
  const fs::path path = directory / "report";
  fs::remove(path);
  options.arguments = {REPORT_APP, path.string(), "0"};
  ChildProcess child = ChildProcess::spawn(options);
  EXPECT_EQ(child.wait(), 0);
  Report report;
  std::ifstream in(path);
  for (std::string line; std::getline(in, line);) {
    const auto space = line.find(' ');
    const auto key = line.substr(0, space);
    const auto value = line.substr(space + 1);
    if (key == "pid") report.pid = value;
    if (key == "sid") report.sid = value;
    if (key == "fd") report.descriptors.push_back(value);
    if (key == "SigBlk") report.blocked = std::stoull(value, nullptr, 16);
    if (key == "SigIgn") report.ignored = std::stoull(value, nullptr, 16);
  }
  return report;
}

// descriptorOf: the number under which this process has `path` open.
int descriptorOf(const fs::path& path) {
  for (const auto& entry : fs::directory_iterator("/proc/self/fd")) {
    std::error_code error;
    if (fs::read_symlink(entry.path(), error) == path)
      return std::stoi(entry.path().filename().string());
  }
  ADD_FAILURE() << path << " is not open";
  return -1;
}

TEST(ChildProcessTest, DescriptorsFromThreeAreClosedUnlessPassedOrKeptAndSessionsOnRequest) {
  TempDirectory directory;
  // Opened without close-on-exec, like a descriptor some library leaves behind.
  const fs::path leakyPath = directory / "leaky";
  std::FILE* leaky = std::fopen(leakyPath.c_str(), "w");
  ASSERT_NE(leaky, nullptr);
  const int leakyNumber = descriptorOf(leakyPath);
  const std::string ourErrors = fs::read_symlink("/proc/self/fd/2").string();
  const std::string leakyEntry = std::to_string(leakyNumber) + " " + leakyPath.string();
  const std::vector<std::string> streams{"0 /dev/null", "1 /dev/null", "2 /dev/null"};
  const auto with = [&](std::vector<std::string> more) {
    std::vector<std::string> all = streams;
    all.insert(all.end(), more.begin(), more.end());
    return all;
  };

  const struct {
    const char* name;
    std::map<int, int> passed;
    bool closeInherited;
    bool newSession;
    std::vector<std::string> descriptors;
  } cases[] = {
      {"closed by default", {}, true, false, streams},
      {"kept when asked", {}, false, false, with({leakyEntry})},
      {"a new session", {}, true, true, streams},
      // The second target number is the first one's source: the copy must not overwrite it.
      {"passed under numbers of their own",
       {{leakyNumber, 2}, {leakyNumber + 1, leakyNumber}},
       true,
       false,
       with({std::to_string(leakyNumber) + " " + ourErrors,
             std::to_string(leakyNumber + 1) + " " + leakyPath.string()})},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SpawnOptions options;
    options.passed = c.passed;
    options.closeInheritedDescriptors = c.closeInherited;
    options.newSession = c.newSession;
    const Report report = runReportApp(options, directory);
    if (c.closeInherited) {
      EXPECT_EQ(report.descriptors, c.descriptors);
    } else {
      for (const std::string& expected : c.descriptors) {
        EXPECT_NE(std::find(report.descriptors.begin(), report.descriptors.end(), expected),
                  report.descriptors.end())
            << expected;
      }
    }
    EXPECT_EQ(report.sid == report.pid, c.newSession) << "sid " << report.sid;
  }
  std::fclose(leaky);
}

TEST(ChildProcessTest, TheChildStartsWithNoBlockedSignalsAndDefaultHandlers) {
  TempDirectory directory;
  const testing::BlockedSignal blocked(SIGTERM);
  const auto previousPipe = std::signal(SIGPIPE, SIG_IGN);
  const auto previousHangUp = std::signal(SIGHUP, SIG_IGN);
  for (const bool closeInherited : {true, false}) {
    SCOPED_TRACE(closeInherited ? "descriptors closed" : "descriptors kept");
    SpawnOptions options;
    options.closeInheritedDescriptors = closeInherited;
    const Report report = runReportApp(options, directory);
    EXPECT_EQ(report.blocked, 0u);
    const unsigned long long ours = (1ULL << (SIGPIPE - 1)) | (1ULL << (SIGHUP - 1));
    EXPECT_EQ(report.ignored & ours, 0u) << std::hex << report.ignored;
  }
  std::signal(SIGHUP, previousHangUp);
  std::signal(SIGPIPE, previousPipe);
}

TEST(ChildProcessTest, EnvironmentWorkingDirectoryAndStreamsAreTheChildsOwn) {
  TempDirectory directory;
  fs::create_directories(directory / "work");
  writeText(directory / "input", "from the input file\n");
  const struct {
    const char* name;
    std::function<void(SpawnOptions&)> adjust;
    const char* script;
    std::string output;
    std::string errors;  // what the errors file holds, when they go to one
  } cases[] = {
      {"overridden and added variables",
       [](SpawnOptions& o) {
         o.environment = {{"HOME", "/elsewhere"}, {"TB_NEW", "a b=c"}};
       },
       "printf '%s|%s|%s' \"$HOME\" \"$TB_NEW\" \"${PATH:+path kept}\"",
       "/elsewhere|a b=c|path kept", ""},
      {"unset variables",
       [](SpawnOptions& o) {
         o.environment = {{"TB_NEW", "x"}};
         o.unset = {"HOME", "TB_NEW", "TB_NEVER_SET"};
       },
       "printf '%s|%s' \"${HOME-unset}\" \"${TB_NEW-unset}\"", "unset|unset", ""},
      {"working directory", [&](SpawnOptions& o) { o.workingDirectory = directory / "work"; },
       "pwd", fs::canonical(directory / "work").string() + "\n", ""},
      {"input from a file, errors with the output",
       [&](SpawnOptions& o) {
         o.input = StreamTarget::toFile(directory / "input");
         o.errors = StreamTarget::sameAsOutput();
       },
       "cat; echo to errors >&2", "from the input file\nto errors\n", ""},
      {"input and errors on /dev/null", [](SpawnOptions&) {}, "cat; echo to errors >&2; echo done",
       "done\n", ""},
      {"errors into a file of their own",
       [&](SpawnOptions& o) { o.errors = StreamTarget::toFile(directory / "errors"); },
       "echo to errors >&2; echo to output", "to output\n", "to errors\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    writeText(directory / "output", "left from before, truncated\n");
    fs::remove(directory / "errors");
    SpawnOptions options = shell(c.script);
    options.output = StreamTarget::toFile(directory / "output");
    c.adjust(options);
    ChildProcess child = ChildProcess::spawn(options);
    EXPECT_EQ(child.wait(), 0);
    EXPECT_EQ(readText(directory / "output"), c.output);
    if (options.errors.kind == StreamTarget::Kind::file) {
      EXPECT_EQ(readText(directory / "errors"), c.errors);
      EXPECT_EQ(test_support::permissions(directory / "errors"),
                fs::perms::owner_read | fs::perms::owner_write);
    }
  }
}

TEST(ChildProcessTest, WhatCannotBeStartedIsAnErrnoErrorNamingTheProgram) {
  TempDirectory directory;
  const fs::path unexecutable = directory / "unexecutable";
  writeText(unexecutable, "#!/bin/sh\n");
  const fs::path garbage = directory / "garbage";
  writeText(garbage, "neither a binary nor a script\n");
  fs::permissions(garbage, fs::perms::owner_all);

  const auto none = [](SpawnOptions&) {};
  const struct {
    const char* name;
    std::vector<std::string> arguments;
    std::function<void(SpawnOptions&)> adjust;
    int error;
  } cases[] = {
      {"missing program", {(directory / "missing").string()}, none, ENOENT},
      {"not executable", {unexecutable.string()}, none, EACCES},
      {"not a program", {garbage.string()}, none, ENOEXEC},
      {"a bare name without the PATH search", {"sh", "-c", "exit 0"}, none, ENOENT},
      {"a bare name not on PATH",
       {"tonebrook-no-such-tool"},
       [](SpawnOptions& o) { o.searchPath = true; },
       ENOENT},
      {"missing working directory",
       {"/bin/true"},
       [&](SpawnOptions& o) { o.workingDirectory = directory / "missing"; },
       ENOENT},
      {"output into a missing directory",
       {"/bin/true"},
       [&](SpawnOptions& o) { o.output = StreamTarget::toFile(directory / "missing/out"); },
       ENOENT},
      {"no program", {}, none, EINVAL},
      {"output as a copy of itself",
       {"/bin/true"},
       [](SpawnOptions& o) { o.output = StreamTarget::sameAsOutput(); },
       EINVAL},
      {"missing program, ending with this process",
       {(directory / "missing").string()},
       [](SpawnOptions& o) { o.endsWithThisProcess = true; },
       ENOENT},
      {"not executable, ending with this process",
       {unexecutable.string()},
       [](SpawnOptions& o) { o.endsWithThisProcess = true; },
       EACCES},
      {"a bare name not on PATH, ending with this process",
       {"tonebrook-no-such-tool"},
       [](SpawnOptions& o) {
         o.searchPath = true;
         o.endsWithThisProcess = true;
       },
       ENOENT},
      {"a passed descriptor over a standard stream",
       {"/bin/true"},
       [](SpawnOptions& o) {
         o.passed = {{1, 2}};
       },
       EINVAL},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SpawnOptions options = program(c.arguments);
    c.adjust(options);
    try {
      ChildProcess::spawn(options);
      ADD_FAILURE() << "started";
    } catch (const Error& error) {
      EXPECT_EQ(error.domain(), kPosixDomain);
      EXPECT_EQ(error.code(), c.error) << error.description();
      const std::string name = c.arguments.empty() ? "" : c.arguments[0];
      EXPECT_EQ(error.description().rfind(name + ": ", 0), 0u) << error.description();
    }
  }
  SpawnOptions onPath = program({"sh", "-c", "exit 7"});
  onPath.searchPath = true;
  EXPECT_EQ(ChildProcess::spawn(onPath).wait(), 7) << "found on PATH";
}

// The success of replaceProcess is seen in the host's helper roles (tests/e2e/installer_test.cc):
// a process that cannot be replaced stays this one, with the error of exec.
TEST(ReplaceProcessTest, WhatCannotBeExecutedIsAnErrnoErrorAndThisProgramRunsOn) {
  TempDirectory directory;
  const fs::path unexecutable = directory / "unexecutable";
  writeText(unexecutable, "#!/bin/sh\n");
  const struct {
    const char* name;
    std::vector<std::string> arguments;
    int error;
  } cases[] = {
      {"missing program", {(directory / "missing").string(), "--retire-provider"}, ENOENT},
      {"not executable", {unexecutable.string()}, EACCES},
      {"a bare name: PATH is not searched", {"true"}, ENOENT},
      {"a directory", {directory.path().string()}, EACCES},
      {"no program", {}, EINVAL},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    try {
      replaceProcess(c.arguments);
    } catch (const Error& error) {
      EXPECT_EQ(error.domain(), kPosixDomain);
      EXPECT_EQ(error.code(), c.error) << error.description();
      const std::string name = c.arguments.empty() ? "" : c.arguments[0];
      EXPECT_EQ(error.description().rfind(name + ": ", 0), 0u) << error.description();
    }
  }
}

TEST(ChildProcessTest, AChildThatEndsWithThisProcessIsKilledWhenItsSpawningThreadEnds) {
  // The parent-death signal follows the thread that spawned the child (for a single-threaded
  // host, the process): a thread that spawns and ends stands in for a host that is killed.
  TempDirectory directory;
  SpawnOptions options =
      shell("echo \"$0 $1\" > \"$2.new\" && mv \"$2.new\" \"$2\"; exec sleep 30");
  options.arguments.insert(options.arguments.end(),
                           {"kept", "as given", (directory / "arguments").string()});
  options.endsWithThisProcess = true;
  ChildProcess child;
  std::thread([&] {
    child = ChildProcess::spawn(options);
    ASSERT_TRUE(test_support::waitUntil([&] { return fs::exists(directory / "arguments"); }));
  }).join();
  EXPECT_EQ(child.waitFor(5s), 128 + SIGKILL);
  EXPECT_EQ(readText(directory / "arguments"), "kept as given\n");

  SpawnOptions plain = shell("exec sleep 30");
  ChildProcess survivor;
  std::thread([&] { survivor = ChildProcess::spawn(plain); }).join();
  EXPECT_EQ(survivor.waitFor(300ms), std::nullopt) << "without the option it runs on";
}

// A capture keeps the first bytes a child writes and never holds it up: a child that writes far
// more than a pipe holds ends all the same while the capture is collected.
TEST(OutputCaptureTest, KeepsTheFirstBytesAndNeverStallsTheChild) {
  const struct {
    const char* name;
    const char* script;
    std::size_t limit;
    std::string kept;
  } cases[] = {
      {"short", "printf 'one\\ntwo\\n' >&2", 100, "one\ntwo\n"},
      {"nothing", "exit 0", 100, ""},
      {"a megabyte, cut", "head -c 1048576 /dev/zero | tr '\\0' x >&2", 10, "xxxxxxxxxx"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    OutputCapture capture(c.limit);
    SpawnOptions options = shell(c.script);
    options.errors = capture.target();
    ChildProcess child = ChildProcess::spawn(options);
    capture.closeWriteEnd();
    std::optional<int> status;
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (!(status = child.waitFor(10ms)) && std::chrono::steady_clock::now() < deadline) {
      capture.collect();
    }
    capture.collect();
    EXPECT_EQ(status, 0);
    EXPECT_EQ(capture.text(), c.kept);
  }
}

TEST(StartDetachedTest, TheProgramLeadsASessionOfItsOwnAndIsNotOurChild) {
  TempDirectory directory;
  const fs::path facts = directory / "facts";
  SpawnOptions options =
      shell("cat /proc/$$/stat > \"$0.new\" && mv \"$0.new\" \"$0\"; exec sleep 30");
  options.arguments.push_back(facts.string());
  startDetached(options);
  ASSERT_TRUE(test_support::waitUntil([&] { return fs::exists(facts); }));
  // After the parenthesised name: state, parent, process group, session.
  const std::string stat = readText(facts);
  std::istringstream fields(stat.substr(stat.rfind(')') + 2));
  std::string state;
  int parent = 0;
  int group = 0;
  int session = 0;
  fields >> state >> parent >> group >> session;
  const int pid = std::stoi(stat);
  EXPECT_EQ(session, pid);
  EXPECT_NE(parent, processId());
  EXPECT_TRUE(testing::processAlive(pid));
  testing::sendSignal(pid, SIGKILL);

  EXPECT_ERRNO(startDetached(program({(directory / "missing").string()})), ENOENT);
}

}  // namespace
}  // namespace platform
