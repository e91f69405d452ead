// shouldRetire against real changes of the executable and real retirement request files.
#include <algorithm>
#include <cctype>
#include <ctime>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "tests/lifetime/lifetime_fixture.h"

namespace lifetime_testing {
namespace {

using Lifetime = FinderProviderLifetime;

std::string quoted(const std::string& text) {
  return "\"" + text + "\"";
}

std::string lowerCase(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

// What a case does to the world of a running lifetime.
struct World {
  const std::filesystem::path& executable;
  const std::string& executableBytes;
  const std::filesystem::path& request;
  std::string instance;
};

struct Case {
  const char* name;
  std::function<void(const World&)> change;
  bool retire;
};

const std::vector<Case>& cases() {
  static const std::vector<Case> all = {
      {"nothing changed", [](const World&) {}, false},
      {"identical copy moved over the executable",
       [](const World& w) {
         std::filesystem::path copy = w.executable.string() + ".new";
         writeFile(copy, w.executableBytes);
         std::filesystem::rename(copy, w.executable);
       },
       true},
      {"executable rewritten in place with other content",
       [](const World& w) { writeFile(w.executable, w.executableBytes + "!"); }, true},
      {"executable rewritten in place with the same content",
       [](const World& w) { writeFile(w.executable, w.executableBytes); }, false},
      {"executable deleted", [](const World& w) { std::filesystem::remove(w.executable); }, true},
      {"request names this instance",
       [](const World& w) { writeFile(w.request, quoted(w.instance)); }, true},
      {"request names this instance in lower case",
       [](const World& w) { writeFile(w.request, quoted(lowerCase(w.instance))); }, true},
      {"request of exactly 2,000,000 bytes",
       [](const World& w) {
         std::string document = quoted(w.instance);
         writeFile(w.request, document + std::string(2'000'000 - document.size(), ' '));
       },
       true},
      {"request of 2,000,001 bytes",
       [](const World& w) {
         std::string document = quoted(w.instance);
         writeFile(w.request, document + std::string(2'000'001 - document.size(), ' '));
       },
       false},
      {"request with white space around the string",
       [](const World& w) { writeFile(w.request, " \n\t" + quoted(w.instance) + "\r\n"); }, true},
      {"request of 100,000 nested arrays around the string",
       [](const World& w) {
         writeFile(w.request,
                   std::string(100'000, '[') + quoted(w.instance) + std::string(100'000, ']'));
       },
       false},
      {"request names another instance",
       [](const World& w) { writeFile(w.request, quoted(platform::Uuid::random().text())); },
       false},
      {"request is a JSON object",
       [](const World& w) { writeFile(w.request, R"({"instance":")" + w.instance + "\"}"); },
       false},
      {"request is a bare UUID", [](const World& w) { writeFile(w.request, w.instance); }, false},
      {"request is a string that is not a UUID",
       [](const World& w) { writeFile(w.request, quoted(w.instance + "0")); }, false},
      {"request is a link to a request naming this instance",
       [](const World& w) {
         std::filesystem::path target = w.request.parent_path().parent_path() / "request.json";
         writeFile(target, quoted(w.instance));
         std::filesystem::create_symlink(target, w.request);
       },
       false},
      {"request is a directory",
       [](const World& w) { std::filesystem::create_directory(w.request); }, false},
  };
  return all;
}

TEST_F(LifetimeTest, ShouldRetireAnswersEveryChange) {
  for (const Case& testCase : cases()) {
    SCOPED_TRACE(testCase.name);
    std::filesystem::path caseDirectory = directory / testCase.name;
    std::filesystem::create_directories(caseDirectory);
    std::filesystem::path caseExecutable = caseDirectory / "TonebrookQuickConversion";
    writeFile(caseExecutable, executableBytes);

    Lifetime lifetime(caseDirectory / "root", caseExecutable);
    ASSERT_FALSE(lifetime.shouldRetire());
    World world{caseExecutable, executableBytes, lifetime.root() / "provider-retire.json",
                lifetime.instance().text()};
    testCase.change(world);
    EXPECT_EQ(lifetime.shouldRetire(), testCase.retire);
    EXPECT_EQ(lifetime.shouldRetire(), testCase.retire) << "the answer must hold when asked again";
  }
}

// The request is read five times a second for the life of the provider: a document that cannot
// be one must not cost a parse. 200 KB of nested arrays took about 120 ms of CPU a read.
TEST_F(LifetimeTest, ShouldRetireRefusesADeeplyNestedRequestCheaply) {
  Lifetime lifetime(root, executable);
  const auto cpuSecondsOfTenReads = [&] {
    const std::clock_t start = std::clock();
    for (int read = 0; read < 10; ++read) EXPECT_FALSE(lifetime.shouldRetire());
    return static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC;
  };
  const double plain = cpuSecondsOfTenReads();
  writeFile(lifetime.root() / "provider-retire.json",
            std::string(100'000, '[') + std::string(100'000, ']'));
  const double nested = cpuSecondsOfTenReads();
  EXPECT_LT(nested, plain + 0.1) << "plain " << plain << " s, nested " << nested << " s";
}

TEST_F(LifetimeTest, ShouldRetireFollowsALinkedExecutableToItsTarget) {
  std::filesystem::path link = directory / "linked";
  std::filesystem::create_symlink(executable, link);
  Lifetime lifetime(root, link);
  ASSERT_FALSE(lifetime.shouldRetire());
  // Only the target's identity tells that it was replaced by an identical copy.
  std::filesystem::path copy = directory / "copy";
  writeFile(copy, executableBytes);
  std::filesystem::rename(copy, executable);
  EXPECT_TRUE(lifetime.shouldRetire());
}

}  // namespace
}  // namespace lifetime_testing
