#include "tests/stress/stress_fixture.h"

#include <chrono>
#include <cstdlib>
#include <iostream>
#include <thread>

#include "exchange/constants.h"
#include "host/conversion.h"
#include "platform/core/run_tool.h"
#include "platform/testing/processes.h"

namespace stress {
namespace {

constexpr int kSignalKill = 9;

std::optional<std::uint64_t> numberFromEnvironment(const char* name) {
  const char* text = std::getenv(name);  // NOLINT(concurrency-mt-unsafe): read before threads
  if (text == nullptr || *text == '\0') return std::nullopt;
  char* end = nullptr;
  const unsigned long long value = std::strtoull(text, &end, 10);
  if (*end != '\0') return std::nullopt;
  return value;
}

std::string joined(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += "\n  " + line;
  return text;
}

}  // namespace

Settings settingsFor(const std::string& test, int defaultRounds) {
  Settings settings;
  settings.rounds =
      static_cast<int>(numberFromEnvironment("TONEBROOK_SOAK_ROUNDS").value_or(defaultRounds));
  settings.seed = numberFromEnvironment("TONEBROOK_SOAK_SEED").value_or(std::random_device{}());
  std::cout << test << ": " << settings.rounds << " rounds, seed " << settings.seed
            << " (replay: TONEBROOK_SOAK_SEED=" << settings.seed
            << " TONEBROOK_SOAK_ROUNDS=" << settings.rounds << ")" << std::endl;
  return settings;
}

int Tally::total() const {
  int sum = 0;
  for (const auto& [kind, count] : counts_) sum += count;
  return sum;
}

void Tally::print(const std::string& title) const {
  std::cout << title << " (" << total() << "):\n";
  for (const auto& [kind, count] : counts_) std::cout << "  " << count << "  " << kind << "\n";
  std::cout << std::flush;
}

void Stress::SetUp() {
  EndToEnd::SetUp();
  install(builtPackage());
  startBus();
  ledger_ = std::make_unique<e2e::RequestLedger>(stateRoot());
  fs::create_directories(music());
}

void Stress::beginRun(const std::string& test, int defaultRounds) {
  settings_ = settingsFor(test, defaultRounds);
  random_.seed(settings_.seed);
}

int Stress::moment(int from, int to) {
  return std::uniform_int_distribution<int>(from, to)(random_);
}

bool Stress::chance(double probability) {
  return std::bernoulli_distribution(probability)(random_);
}

void Stress::prepareAudio(double seconds) {
  tone_ = directory() / "tone.wav";
  const fs::path reference = directory() / "reference.mp3";
  ASSERT_TRUE(platform::runTool({"ffmpeg", "-nostdin", "-loglevel", "error", "-f", "lavfi", "-i",
                                 "sine=frequency=440:duration=" + std::to_string(seconds), "-ac",
                                 "2", "-ar", "44100", "-c:a", "pcm_s16le", tone_.string()},
                                {0}));
  std::vector<std::string> arguments{
      "ffmpeg", "-nostdin", "-loglevel", "error", "-i", "file:" + tone_.string(), "-vn"};
  const std::optional<host::OutputFormat> mp3 = host::outputFormat("mp3");
  ASSERT_TRUE(mp3);
  arguments.insert(arguments.end(), mp3->encoderArguments.begin(), mp3->encoderArguments.end());
  arguments.push_back("file:" + reference.string());
  ASSERT_TRUE(platform::runTool(arguments, {0}));
  reference_ = e2e::readBytes(reference);
  ASSERT_FALSE(reference_.empty());
}

fs::path Stress::input(const std::string& stem) {
  const fs::path path = music() / (stem + ".wav");
  fs::copy_file(tone_, path);
  inputs_.insert(stem);
  return path;
}

Stress::RunResult Stress::convert(const std::vector<fs::path>& files) {
  std::vector<std::string> arguments{client().string(), "mp3"};
  for (const fs::path& file : files) arguments.push_back(file.string());
  RunResult result = run(arguments, 40);
  if (result.status == 0) {
    for (const fs::path& file : files) mustConvert(file.stem().string());
  }
  return result;
}

void Stress::convertUntilServed(const std::vector<fs::path>& files,
                                const std::set<std::string>& allowed, Tally& tally) {
  std::string first;  // the sentence the first attempt met
  for (int attempt = 0; attempt < 5; ++attempt) {
    const RunResult result = convert(files);
    if (result.status == 0) {
      tally.add(attempt == 0 ? "served at once" : "served after \"" + first + "\"");
      return;
    }
    const std::string sentence = result.errors.substr(0, result.errors.find('\n'));
    if (attempt == 0) first = sentence;
    if (!allowed.contains(sentence)) {
      ADD_FAILURE() << "the next call was answered: " << result.errors;
      tally.add("refused: " + sentence);
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
  }
  ADD_FAILURE() << "the next call was never served";
}

int Stress::killEach(const fs::path& executable) {
  const std::vector<int> pids = platform::testing::processesRunning(executable);
  for (int pid : pids) platform::testing::sendSignal(pid, kSignalKill);
  EXPECT_TRUE(waitFor(
      [&] { return std::none_of(pids.begin(), pids.end(), platform::testing::processAlive); }, 5));
  return static_cast<int>(pids.size());
}

void Stress::audit(const std::string& when, bool providerGone) {
  namespace names = FinderConversion::names;
  SCOPED_TRACE(when);
  EXPECT_EQ(e2e::recordProblems(stateRoot()), std::vector<std::string>{});
  // A host that decided to leave keeps the lifecycle lock for the moment it takes to exit.
  EXPECT_TRUE(waitFor([&] { return e2e::lockFree(stateRoot(), names::kLifecycleLock); }, 2))
      << "the lifecycle lock is still held";
  if (providerGone) {
    EXPECT_TRUE(e2e::lockFree(stateRoot(), names::kProviderLock))
        << "the provider lock is still held";
  }
  const std::vector<std::string> lost = ledger_->lost();
  EXPECT_TRUE(lost.empty()) << "requests lost:" << joined(lost);
  const std::vector<std::string> outputs =
      e2e::outputProblems(music(), inputs_, converted_, "mp3", reference_, false);
  EXPECT_TRUE(outputs.empty()) << joined(outputs);
}

void Stress::settleAndCheck(double seconds) {
  EXPECT_TRUE(waitFor([&] { return e2e::settled(stateRoot()); }, seconds))
      << "requests still unfinished";
  audit("settled", false);
  const std::vector<std::string> outputs =
      e2e::outputProblems(music(), inputs_, converted_, "mp3", reference_, true);
  EXPECT_TRUE(outputs.empty()) << joined(outputs);
  for (const auto& [id, ack] : e2e::acknowledgements(stateRoot())) {
    if (!ack.accepted) continue;
    EXPECT_EQ(ack.done, ack.jobs) << id << ": every job converted";
    EXPECT_EQ(ack.outputs.size(), ack.jobs) << id << ": one output per input";
  }
}

}  // namespace stress
