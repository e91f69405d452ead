#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "tests/e2e/e2e_fixture.h"
#include "tests/e2e/state_audit.h"

// Kills at random and races: the real provider, host and installer killed with SIGKILL at random
// moments (the soak) or racing each other (the races), with a private bus and real ffmpeg, and
// the checks of tests/e2e/state_audit.h after each event.
namespace stress {

namespace fs = std::filesystem;

// Settings: how many kills a test makes (TONEBROOK_SOAK_ROUNDS, else the test's default) and the
// seed of its random moments (TONEBROOK_SOAK_SEED, else a fresh one). Both are printed at the
// start, so that a failing run can be replayed.
struct Settings {
  int rounds = 0;
  std::uint64_t seed = 0;
};
Settings settingsFor(const std::string& test, int defaultRounds);

// Tally counts what happened, by kind (listed in alphabetical order).
class Tally {
 public:
  void add(const std::string& kind) { ++counts_[kind]; }
  int total() const;
  // print writes the counts under `title` to standard output, one kind a line.
  void print(const std::string& title) const;

 private:
  std::map<std::string, int> counts_;
};

// The client's sentence when the provider the bus started ended at once, twice.
inline const std::string kNotStartedSentence =
    "The Tonebrook conversion service could not be started. Retry in a moment.";

class Stress : public e2e::EndToEnd {
 protected:
  // SetUp installs the add-on, starts the private bus and prepares the queue's ledger.
  void SetUp() override;

  // beginRun reads the settings, seeds the random moments and prints both.
  void beginRun(const std::string& test, int defaultRounds);
  int rounds() const noexcept { return settings_.rounds; }
  // moment: a random whole number of milliseconds in [from, to].
  int moment(int from, int to);
  bool chance(double probability);

  // prepareAudio makes a stereo 44.1 kHz WAV of a tone `seconds` long and its reference MP3,
  // converted by ffmpeg with the host's own arguments.
  void prepareAudio(double seconds);
  fs::path music() const { return home() / "Music"; }
  // input copies the tone to Music/<stem>.wav and remembers it as an input to account for;
  // mustConvert marks one whose request reached the queue, so that its output must appear.
  fs::path input(const std::string& stem);
  void mustConvert(const std::string& stem) {
    const std::lock_guard<std::mutex> guard(convertedLock_);
    converted_.insert(stem);
  }

  // convert runs the Services client on `files` as a user would; its status and sentence. Each
  // file's stem must be converted once the call succeeds. Callable from several threads.
  RunResult convert(const std::vector<fs::path>& files);
  // convertUntilServed: the next call must be served; `allowed` are the sentences right for the
  // state that may come first (each tried again after a pause, a few times). Counted in `tally`.
  void convertUntilServed(const std::vector<fs::path>& files, const std::set<std::string>& allowed,
                          Tally& tally);

  // killEach sends SIGKILL to every live process running `executable` and waits until they are
  // gone; how many there were.
  static int killEach(const fs::path& executable);

  // audit runs every check that holds after any kill (records, the lifecycle lock, no request
  // lost, no output half-written under its final name); `providerGone` adds the provider lock.
  void audit(const std::string& when, bool providerGone);
  // settleAndCheck waits until every request is answered and finished, then checks the outputs
  // as complete (one per input, nothing partial left).
  void settleAndCheck(double seconds);

  e2e::RequestLedger& ledger() { return *ledger_; }

 private:
  Settings settings_;
  std::mt19937_64 random_;
  fs::path tone_;
  std::string reference_;
  std::set<std::string> inputs_;
  std::mutex convertedLock_;  // convert may run on several threads at once (the races)
  std::set<std::string> converted_;
  std::unique_ptr<e2e::RequestLedger> ledger_;
};

}  // namespace stress
