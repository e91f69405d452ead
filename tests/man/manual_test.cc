// Every program of the host bundle tells its options on --help (standard output, status 0) and
// keeps its usage on standard error for arguments it does not understand; each manual page
// reads without a warning and documents every option its program's help lists.
#include <gtest/gtest.h>

#include <cctype>
#include <sstream>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace {

namespace fs = std::filesystem;

const fs::path kApp = TONEBROOK_APP_DIR;
const fs::path kHost = kApp / "Contents/MacOS/Tonebrook";
const fs::path kInstaller = kApp / "Contents/Helpers/tonebrook-install";
const fs::path kClient = kApp / "Contents/Helpers/tonebrook-services";

struct Outcome {
  int status = -1;
  std::string output;
  std::string errors;
};

// listsOption: a line of the help's option list (indented, starting with "-") names `option`.
bool listsOption(const std::string& help, const std::string& option) {
  std::istringstream lines(help);
  for (std::string line; std::getline(lines, line);) {
    if (!line.starts_with("  -")) continue;
    std::istringstream words(line);
    for (std::string word; words >> word;) {
      if (word == option || word == option + ",") return true;
    }
  }
  return false;
}

// mentionsInRoff: the page names `option` as a whole word, written as roff writes a typed "-"
// ("\-"), so that "-h" is not taken for the start of "--help".
bool mentionsInRoff(const std::string& page, const std::string& option) {
  std::string typed;
  for (const char c : option) typed += c == '-' ? std::string("\\-") : std::string(1, c);
  for (std::size_t at = page.find(typed); at != std::string::npos; at = page.find(typed, at + 1)) {
    const std::size_t end = at + typed.size();
    const bool startsWord = at == 0 || page[at - 1] != '-';
    const bool endsWord =
        end == page.size() || (!std::isalnum(static_cast<unsigned char>(page[end])) &&
                               page[end] != '\\' && page[end] != '-');
    if (startsWord && endsWord) return true;
  }
  return false;
}

class Manual : public ::testing::Test {
 protected:
  // run starts the program with a private HOME, so that nothing it might do reaches the user's.
  Outcome run(std::vector<std::string> arguments) {
    const fs::path output = directory_ / "output";
    const fs::path errors = directory_ / "errors";
    fs::create_directories(directory_ / "home");
    platform::SpawnOptions options;
    options.arguments = std::move(arguments);
    options.environment["HOME"] = (directory_ / "home").string();
    options.unset = {"DBUS_SESSION_BUS_ADDRESS", "XDG_RUNTIME_DIR"};
    options.output = platform::StreamTarget::toFile(output);
    options.errors = platform::StreamTarget::toFile(errors);
    Outcome outcome;
    outcome.status = platform::ChildProcess::spawn(options).wait();
    outcome.output = test_support::readText(output);
    outcome.errors = test_support::readText(errors);
    return outcome;
  }

  test_support::TempDirectory directory_{"tonebrook-manual"};
};

// What each program's help must list: every option, each as it is typed.
struct Program {
  const char* name;
  fs::path path;
  const char* manualPage;  // nullptr: none of its own
  std::vector<std::string> options;
};
const std::vector<Program>& programs() {
  static const std::vector<Program> all = {
      {"Tonebrook",
       kHost,
       "Tonebrook.1",
       {"--finder-service", "--verify-finder-inbox", "--install-addon", "--retire-provider", "-h",
        "--help"}},
      {"tonebrook-install",
       kInstaller,
       nullptr,
       {"--install-addon", "--retire-provider", "--help"}},
      {"tonebrook-services", kClient, "tonebrook-services.1", {"--notify", "-h", "--help", "--"}},
  };
  return all;
}

TEST_F(Manual, HelpListsEveryOptionOnStandardOutput) {
  for (const Program& program : programs()) {
    for (const char* help : {"--help", "-h"}) {
      SCOPED_TRACE(std::string(program.name) + " " + help);
      const Outcome outcome = run({program.path.string(), help});
      EXPECT_EQ(outcome.status, 0);
      EXPECT_EQ(outcome.errors, "");
      EXPECT_TRUE(outcome.output.starts_with("usage: ")) << outcome.output;
      for (const std::string& option : program.options) {
        EXPECT_TRUE(listsOption(outcome.output, option)) << option;
      }
    }
  }
}

TEST_F(Manual, ArgumentsNotUnderstoodKeepTheUsageOnStandardError) {
  struct Case {
    const char* name;
    std::vector<std::string> arguments;
    int status;
    std::string errors;
  };
  const std::string hostUsage =
      "usage: Tonebrook --finder-service [--verify-finder-inbox STATE-ROOT]\n"
      "       Tonebrook --install-addon [PACKAGE]\n"
      "       Tonebrook --retire-provider\n";
  const std::string installerUsage =
      "usage: Tonebrook --install-addon [PACKAGE]\n"
      "       Tonebrook --retire-provider\n";
  const Case cases[] = {
      {"host without a role", {kHost.string()}, 2, hostUsage},
      {"host with an unknown option", {kHost.string(), "--helpful"}, 2, hostUsage},
      {"help not first",
       {kHost.string(), "--finder-service", "--help"},
       2,
       "usage: Tonebrook --finder-service [--verify-finder-inbox STATE-ROOT]\n"},
      {"installer without a role", {kInstaller.string()}, 2, installerUsage},
      {"two packages",
       {kHost.string(), "--install-addon", "a", "b"},
       1,
       "Usage: Tonebrook --install-addon [PACKAGE]\n"},
      {"client without files",
       {kClient.string(), "mp3"},
       1,
       "Usage: tonebrook-services [--notify] USERDATA [--] FILE...\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Outcome outcome = run(c.arguments);
    EXPECT_EQ(outcome.status, c.status);
    EXPECT_EQ(outcome.errors, c.errors);
    EXPECT_EQ(outcome.output, "");
  }
}

TEST_F(Manual, ManualPagesReadCleanlyAndDocumentEveryOption) {
  for (const Program& program : programs()) {
    if (program.manualPage == nullptr) continue;
    SCOPED_TRACE(program.manualPage);
    const fs::path page = fs::path(TONEBROOK_MAN_DIR) / program.manualPage;
    // groff -ww: every warning; -z: no output, the warnings alone.
    const Outcome outcome = run({"/usr/bin/groff", "-man", "-ww", "-z", "-Tutf8", page.string()});
    EXPECT_EQ(outcome.status, 0);
    EXPECT_EQ(outcome.errors, "");
    EXPECT_TRUE(fs::exists(page.string() + ".gz")) << "installed compressed";

    const std::string text = test_support::readText(page);
    for (const std::string& option : program.options) {
      EXPECT_TRUE(mentionsInRoff(text, option)) << option;
    }
  }
}

}  // namespace
