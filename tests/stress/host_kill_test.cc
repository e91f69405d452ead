// The host killed at random moments of its conversions (real ffmpeg, ten seconds of audio per
// file, two files per request); the next call launches a host that takes the work over.
#include <thread>

#include "exchange/record_files.h"
#include "platform/testing/name_watch.h"
#include "platform/testing/processes.h"
#include "tests/stress/stress_fixture.h"

namespace stress {
namespace {

constexpr int kDefaultRounds = 50;
constexpr int kFilesPerRequest = 2;
constexpr double kAudioSeconds = 10;
// Two files of this length take about half a second to convert here, a little more with the
// work a killed host left: kills come within that.
constexpr int kLatestKillMilliseconds = 800;

class HostKills : public Stress {
 protected:
  // waitForTheMoment waits `milliseconds`, or, for a kill aimed at an output, until a converted
  // file takes its final name in Music (looked for every millisecond, for up to two seconds).
  void waitForTheMoment(int milliseconds, bool atAnOutput) {
    if (!atAnOutput) {
      std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
      return;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (std::chrono::steady_clock::now() < deadline) {
      for (const std::string& name : outputs_->collect()) {
        if (name.ends_with(".mp3") && !name.starts_with('.')) return;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }

  // stateAtTheKill tells where the dead host was in the oldest unfinished request, from what it
  // left: the acknowledgement, the final outputs of that request's files and a hidden partial.
  std::string stateAtTheKill() {
    const auto answers = e2e::acknowledgements(stateRoot());
    for (const auto& [id, stems] : requests_) {
      const auto answer = answers.find(id);
      if (answer == answers.end()) return "before the request was answered";
      if (!answer->second.accepted || answer->second.terminal) continue;
      std::size_t finalOutputs = 0;
      for (const std::string& stem : stems) {
        finalOutputs += fs::exists(music() / (stem + ".mp3")) ? 1U : 0U;
      }
      if (finalOutputs > answer->second.done) {
        return "after an output took its final name, before the acknowledgement recorded it";
      }
      if (partialPresent()) return "during a conversion (a partial output present)";
      return "between two files";
    }
    return "idle: every request finished";
  }

  bool partialPresent() const {
    for (const auto& entry : fs::directory_iterator(music())) {
      if (entry.path().filename().string().starts_with(".tonebrook-")) return true;
    }
    return false;
  }

  // The requests made, oldest first: identifier and input stems.
  std::vector<std::pair<std::string, std::vector<std::string>>> requests_;
  std::optional<platform::testing::NameWatch> outputs_;  // what appears in Music
};

TEST_F(HostKills, EveryKillLeavesWholeOutputsAndWorkThatTheNextHostFinishes) {
  beginRun("host kills", kDefaultRounds);
  prepareAudio(kAudioSeconds);
  outputs_.emplace(music());
  Tally landed;
  Tally next;
  for (int round = 1; round <= rounds(); ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    std::vector<fs::path> files;
    std::vector<std::string> stems;
    for (int file = 1; file <= kFilesPerRequest; ++file) {
      stems.push_back("r" + std::to_string(round) + "-" + std::to_string(file));
      files.push_back(input(stems.back()));
    }
    ledger().update();
    const std::set<std::string> before = ledger().ids();
    // Served, also after the last kill: the call launches a host that takes the work over.
    convertUntilServed(files, {std::string(FinderConversion::kLockHeldSentence)}, next);
    ledger().update();
    for (const std::string& id : ledger().ids()) {
      if (!before.contains(id)) requests_.emplace_back(id, stems);
    }

    const int delay = moment(0, kLatestKillMilliseconds);
    const bool atAnOutput = chance(0.25);
    outputs_->collect();
    waitForTheMoment(delay, atAnOutput);
    if (killEach(host()) == 0) {
      landed.add("no host running");
      continue;
    }
    landed.add(stateAtTheKill());
    audit("after kill " + std::to_string(round), false);
    if (HasFailure()) break;
  }
  const fs::path last = input("last");
  convertUntilServed({last}, {std::string(FinderConversion::kLockHeldSentence)}, next);
  settleAndCheck(120);
  landed.print("host kills, where they landed");
  next.print("the call after each kill");
}

}  // namespace
}  // namespace stress
