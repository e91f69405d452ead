// The converter role against faults met in real use: names that are not UTF-8, answers that
// cannot be written, conversions that hang, hosts that are killed and hosts about to leave.
// Real files, real flock, a real host process (TONEBROOK_HOST) and a fake ffmpeg on PATH: a
// shell script that logs how it was called and copies, stalls or races as a case needs.
#include "host/finder_service.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "exchange/record_files.h"
#include "exchange/records.h"
#include "host/request_handling.h"
#include "platform/core/spawn.h"
#include "platform/testing/processes.h"
#include "support/test_support.h"
#include "tests/host/wav.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using FinderConversion::Acknowledgement;
using FinderConversion::Request;
using platform::Url;
using test_support::readText;
using test_support::waitUntil;
using test_support::writeText;

// How the fake ffmpeg treats its output (its last argument, after "file:").
enum class Converter {
  copy,   // copies the input it was handed as descriptor 3, then succeeds
  stall,  // writes a few bytes, then sleeps without progress
};

// ScopedPath puts a directory in front of PATH for this test process (the in-process host
// finds ffmpeg there), and restores PATH when it goes.
class ScopedPath {
 public:
  explicit ScopedPath(const fs::path& directory) {
    const char* old = std::getenv("PATH");  // NOLINT(concurrency-mt-unsafe): one thread
    old_ = old ? old : "";
    const std::string path = directory.string() + ":" + old_;
    ::setenv("PATH", path.c_str(), 1);  // NOLINT(concurrency-mt-unsafe)
  }
  ~ScopedPath() { ::setenv("PATH", old_.c_str(), 1); }  // NOLINT(concurrency-mt-unsafe)
  ScopedPath(const ScopedPath&) = delete;
  ScopedPath& operator=(const ScopedPath&) = delete;

 private:
  std::string old_;
};

class HostServiceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(music_);
    fs::create_directories(bin_);
    useConverter(Converter::copy);
  }

  void useConverter(Converter kind) {
    const std::string body = kind == Converter::copy ? "cat /dev/fd/3 > \"$out\"\n"
                                                     : "printf partial > \"$out\"\nexec sleep 60\n";
    const fs::path script = bin_ / "ffmpeg";
    writeText(script,
              "#!/bin/sh\nfor argument; do out=$argument; done\nout=${out#file:}\n"
              "echo \"$$ $out\" >> '" +
                  calls_.string() + "'\n" + body);
    fs::permissions(script, fs::perms::owner_all | fs::perms::others_exec);
  }

  // calls: one line per start of the fake ffmpeg, "<pid> <output>".
  std::vector<std::string> calls() const {
    std::vector<std::string> lines;
    std::ifstream in(calls_);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }

  fs::path wav(const std::string& name) {
    host_test::writeSilentWav(music_ / name);
    return music_ / name;
  }

  Request queue(const std::vector<fs::path>& inputs, std::string format = "flac") {
    Request request;
    request.format = std::move(format);
    for (const fs::path& input : inputs) request.inputs.push_back({Url::fromFilePath(input), {}});
    FinderConversion::enqueue(request, root_);
    return request;
  }

  fs::path answerFile(const platform::Uuid& id) const {
    return FinderConversion::acknowledgements(root_) / FinderConversion::fileName(id);
  }
  std::optional<Acknowledgement> answerTo(const platform::Uuid& id) const {
    return FinderConversion::tryRead<Acknowledgement>(answerFile(id));
  }
  std::set<std::string> queueNames() const {
    return test_support::names(FinderConversion::requests(root_));
  }

  // serve runs the host in this process until it leaves; what it logged. The outcomes it told
  // are added to told_.
  std::string serve(double stallSeconds = 60) {
    ScopedPath path(bin_);
    ::testing::internal::CaptureStderr();
    try {
      host::serveQueue({root_, false, 0.3, stallSeconds,
                        [&](const host::RequestOutcome& outcome) { told_.push_back(outcome); }},
                       {"--finder-service"});
    } catch (...) {
      ADD_FAILURE() << "the host ended with an error: " << ::testing::internal::GetCapturedStderr();
      return {};
    }
    return ::testing::internal::GetCapturedStderr();
  }

  // startHost starts the real host on this state root, with the fake ffmpeg first on PATH. It
  // runs a copy of the built host, so that a provider under test elsewhere never takes it for
  // the bound copy running.
  platform::ChildProcess startHost() {
    const fs::path copy = directory_ / "Tonebrook";
    if (!fs::exists(copy)) fs::copy_file(TONEBROOK_HOST, copy);
    platform::SpawnOptions options;
    options.arguments = {copy.string(), "--finder-service", "--verify-finder-inbox",
                         root_.string()};
    options.environment = {{"PATH", bin_.string() + ":/usr/bin:/bin"}};
    options.errors = platform::StreamTarget::toFile(directory_ / "host.log");
    return platform::ChildProcess::spawn(options);
  }

  test_support::TempDirectory temporary_{"host-faults"};
  fs::path directory_ = temporary_.path();
  fs::path root_ = directory_ / "state";
  fs::path music_ = directory_ / "Music";
  fs::path bin_ = directory_ / "bin";
  fs::path calls_ = directory_ / "calls";
  fs::path elsewhere_ = directory_ / "elsewhere";  // where a planted link leads
  std::vector<host::RequestOutcome> told_;
};

// 1. Every request is answered, or stays in the queue when its answer cannot be written; none
// ends the host.
TEST_F(HostServiceTest, AnAnswerIsOnDiskBeforeTheRequestLeavesTheQueue) {
  const std::string latin1 = "caf\xe9";  // not UTF-8
  const std::string shown =
      "Tonebrook cannot read \u201c"
      "caf\uFFFD.wav\u201d.";
  const struct {
    const char* name;
    std::function<fs::path()> input;  // the request's one input
    std::function<void(const platform::Uuid&)> breakAnswers;
    const char* refusal;  // nullptr: not answered, left queued
  } cases[] = {
      {"missing, not UTF-8", [&] { return music_ / (latin1 + ".wav"); }, nullptr, nullptr},
      {"a folder, not UTF-8",
       [&] {
         fs::create_directory(music_ / (latin1 + ".wav"));
         return music_ / (latin1 + ".wav");
       },
       nullptr, nullptr},
      {"a FIFO, not UTF-8",
       [&] {
         test_support::makeFifo(music_ / (latin1 + ".wav"));
         return music_ / (latin1 + ".wav");
       },
       nullptr, nullptr},
      {"acknowledgements is a file", [&] { return wav("a.wav"); },
       [&](const platform::Uuid&) {
         fs::remove_all(FinderConversion::acknowledgements(root_));
         writeText(FinderConversion::acknowledgements(root_), "");
       },
       ""},
      {"the answer's name is a folder", [&] { return wav("a.wav"); },
       [&](const platform::Uuid& id) { fs::create_directories(answerFile(id)); }, ""},
      {"acknowledgements is a link out of the state root", [&] { return wav("a.wav"); },
       [&](const platform::Uuid&) {
         fs::remove_all(FinderConversion::acknowledgements(root_));
         fs::create_directory_symlink(elsewhere_, FinderConversion::acknowledgements(root_));
       },
       ""},
  };
  fs::create_directories(elsewhere_);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(root_);
    fs::remove_all(music_);
    fs::create_directories(music_);
    const Request request = queue({c.input()});
    // A good request beside it is answered all the same.
    const Request good = queue({wav("good.wav")});
    if (c.breakAnswers) c.breakAnswers(request.id);

    const std::string log = serve();

    std::optional<Acknowledgement> goodAnswer = answerTo(good.id);
    ASSERT_TRUE(goodAnswer || c.breakAnswers);  // with a broken directory nobody is answered
    if (!c.breakAnswers) {
      ASSERT_TRUE(answerTo(request.id));
      EXPECT_FALSE(answerTo(request.id)->accepted);
      EXPECT_EQ(answerTo(request.id)->message, shown);
      EXPECT_TRUE(goodAnswer->terminal);
      EXPECT_EQ(queueNames(), std::set<std::string>{});
    } else {
      // Still queued under its own name, and the reason is in the log.
      EXPECT_TRUE(queueNames().contains(FinderConversion::fileName(request.id))) << log;
      EXPECT_NE(log.find("request " + request.id.text() + ": not answered, left in the queue"),
                std::string::npos)
          << log;
    }
    EXPECT_TRUE(fs::is_empty(elsewhere_));
  }
}

// A queue that is a link leads out of the state root: the host takes nothing from there.
TEST_F(HostServiceTest, ALinkInPlaceOfTheQueueIsNeverServed) {
  const Request request = queue({wav("a.wav")});
  fs::rename(FinderConversion::requests(root_), elsewhere_);
  fs::create_directory_symlink(elsewhere_, FinderConversion::requests(root_));
  const std::string log = serve();
  EXPECT_EQ(test_support::names(elsewhere_),
            std::set<std::string>{FinderConversion::fileName(request.id)});
  EXPECT_FALSE(answerTo(request.id));
  EXPECT_NE(log.find("requests: Too many levels of symbolic links"), std::string::npos) << log;
}

TEST_F(HostServiceTest, AnOutputKeepsTheExactBytesOfAName) {
  const fs::path input = wav("caf\xe9.wav");
  const Request request = queue({input});
  serve();
  ASSERT_TRUE(answerTo(request.id));
  EXPECT_EQ(answerTo(request.id)->outputs,
            std::vector<Url>{Url::fromFilePath(music_ / "caf\xe9.flac")});
  EXPECT_NE(answerTo(request.id)->outputs.front().text().find("caf%E9.flac"), std::string::npos);
  EXPECT_EQ(readText(music_ / "caf\xe9.flac"), readText(input));  // what it was handed
}

// 2. Answers never wait for a conversion, and every conversion has a bound.
TEST_F(HostServiceTest, ARealHostAnswersWhileConvertingAndTakesItsConverterWhenKilled) {
  useConverter(Converter::stall);
  const Request slow = queue({wav("long.wav"), wav("next.wav")});
  platform::ChildProcess host = startHost();
  ASSERT_TRUE(waitUntil([&] { return calls().size() == 1; })) << "the conversion never started";
  ASSERT_TRUE(answerTo(slow.id));

  // Answered within a fraction of a second, refused or accepted, while "long.wav" converts.
  test_support::makeFifo(music_ / "pipe.wav");
  const Request refused = queue({music_ / "pipe.wav"});
  const Request accepted = queue({wav("later.wav")});
  // Within waitUntil's five seconds, while the stalled conversion holds on for a minute.
  ASSERT_TRUE(waitUntil([&] { return answerTo(refused.id) && answerTo(accepted.id); }));
  EXPECT_EQ(answerTo(refused.id)->message, "Tonebrook cannot read \u201cpipe.wav\u201d.");
  EXPECT_TRUE(answerTo(accepted.id)->accepted);

  // Killed mid-conversion: the converter goes with it, and no partial output has a final name.
  const int converter = std::stoi(calls().front());
  host.kill();
  EXPECT_EQ(host.wait(), 128 + SIGKILL);
  EXPECT_TRUE(waitUntil([&] { return !platform::testing::processAlive(converter); }));
  EXPECT_FALSE(fs::exists(music_ / "long.flac"));
  EXPECT_FALSE(answerTo(slow.id)->terminal);

  // 3. The next host finishes what the killed one left: the interrupted request and the one it
  // had only accepted.
  useConverter(Converter::copy);
  platform::ChildProcess next = startHost();
  ASSERT_TRUE(waitUntil([&] {
    return answerTo(slow.id)->terminal && answerTo(accepted.id)->terminal;
  })) << readText(directory_ / "host.log");
  for (const Request* request : {&slow, &accepted}) {
    const Acknowledgement answer = *answerTo(request->id);
    for (const platform::Uuid& job : answer.jobs) EXPECT_EQ(answer.states.at(job.text()), "done");
  }
  EXPECT_EQ(answerTo(slow.id)->outputs,
            (std::vector<Url>{Url::fromFilePath(music_ / "long.flac"),
                              Url::fromFilePath(music_ / "next.flac")}));
  EXPECT_EQ(readText(music_ / "long.flac"), readText(music_ / "long.wav"));
  EXPECT_EQ(next.waitFor(10s), 0);
  // Nothing hidden is left: no partial output, no taken request.
  for (const fs::path& folder : {music_, FinderConversion::requests(root_)}) {
    for (const std::string& name : test_support::names(folder)) {
      EXPECT_FALSE(name.starts_with('.')) << folder << "/" << name;
    }
  }
}

TEST_F(HostServiceTest, AConversionWithoutProgressIsStoppedAndLeavesNothing) {
  useConverter(Converter::stall);
  const Request request = queue({wav("stuck.wav")});
  const auto started = std::chrono::steady_clock::now();
  const std::string log = serve(0.5);
  EXPECT_LT(std::chrono::steady_clock::now() - started, 5s);
  const Acknowledgement answer = *answerTo(request.id);
  EXPECT_TRUE(answer.terminal);
  EXPECT_EQ(answer.states.at(answer.jobs.front().text()), "failed");
  EXPECT_FALSE(platform::testing::processAlive(std::stoi(calls().front())));
  EXPECT_EQ(test_support::names(music_), std::set<std::string>{"stuck.wav"});
  EXPECT_NE(log.find("no progress"), std::string::npos) << log;
  ASSERT_EQ(told_.size(), 1u);
  EXPECT_EQ(
      told_[0].failures,
      (std::vector<host::FailedFile>{{"stuck.wav", "the conversion stopped making progress"}}));
}

TEST_F(HostServiceTest, AnInputReplacedByAFifoAfterAcceptanceNeverReachesTheConverter) {
  const Request request = queue({wav("one.wav"), wav("two.wav")});
  const std::string name = FinderConversion::fileName(request.id);
  const fs::path taken = FinderConversion::requests(root_) / host::takenName(name);
  fs::rename(FinderConversion::requests(root_) / name, taken);
  std::optional<host::AcceptedRequest> accepted;
  {
    ScopedPath path(bin_);
    accepted = host::answerRequest(root_, {taken, name, std::nullopt});
    ASSERT_TRUE(accepted);
    fs::remove(music_ / "two.wav");
    test_support::makeFifo(music_ / "two.wav");  // no writer: reading it would never end
    EXPECT_FALSE(host::convertNext(*accepted));
    EXPECT_TRUE(host::convertNext(*accepted));
  }
  const Acknowledgement answer = *answerTo(request.id);
  EXPECT_EQ(answer.states.at(answer.jobs[0].text()), "done");
  EXPECT_EQ(answer.states.at(answer.jobs[1].text()), "failed");
  EXPECT_EQ(calls().size(), 1u) << "only one.wav was handed to the converter";
}

TEST_F(HostServiceTest, AFinishedOutputNeverReplacesAFileThatAppearedMeanwhile) {
  // The fake converter makes "take.flac" itself while converting, as another program might.
  const fs::path script = bin_ / "ffmpeg";
  writeText(script,
            "#!/bin/sh\nfor argument; do out=$argument; done\nout=${out#file:}\n"
            "printf other > '" +
                (music_ / "take.flac").string() +
                "'\n"
                "cat /dev/fd/3 > \"$out\"\n");
  const Request request = queue({wav("take.wav")});
  serve();
  EXPECT_EQ(answerTo(request.id)->outputs,
            std::vector<Url>{Url::fromFilePath(music_ / "take 2.flac")});
  EXPECT_EQ(readText(music_ / "take.flac"), "other");
  EXPECT_EQ(readText(music_ / "take 2.flac"), readText(music_ / "take.wav"));
}

// 3. Work left by a host that is gone is finished or failed explicitly by the next one.
// A host killed between writing a temporary file and renaming it leaves a hidden file for good;
// the next host removes its own once they are a minute old. Younger ones may belong to a writer
// at work, and the provider's are the provider's.
TEST_F(HostServiceTest, AStartingHostRemovesItsOwnStaleTemporaryFiles) {
  const std::string answer = ".0A1B2C3D-4E5F-4061-8293-A4B5C6D7E8F9.json.tmp-";
  const std::vector<test_support::LeftFile> cases = {
      {"an old acknowledgement", FinderConversion::acknowledgements(root_) / (answer + "Ab12Cd"),
       true, true},
      {"an old arrival sign", root_ / ".packaged-inbox.json.tmp-Ab12Cd", true, true},
      {"a young acknowledgement", FinderConversion::acknowledgements(root_) / (answer + "Ef34Gh"),
       false, false},
      {"the provider's request", FinderConversion::requests(root_) / (answer + "Ab12Cd"), true,
       false},
  };
  test_support::leaveFiles(cases);
  serve();
  test_support::expectRemovedAsMeant(cases);
}

TEST_F(HostServiceTest, TheNextHostSettlesWhatAGoneHostLeft) {
  struct Left {
    bool requestFile = true;                         // the dead host's taken request file
    std::optional<std::vector<std::string>> states;  // its acknowledgement's job states
    bool terminal = false;
    bool heldByALiveHost = false;
  };
  const struct {
    const char* name;
    Left left;
    std::vector<std::string> states;  // afterwards ("" for no acknowledgement)
    bool terminal;
    bool requestFileStays;
    // What this host tells: converted, failed by name, failed without one; nothing when it did
    // not settle the request itself.
    std::optional<std::vector<std::size_t>> told;
  } cases[] = {
      {"taken, never answered", {true, std::nullopt}, {"done", "done"}, true, false, {{2, 0, 0}}},
      {"accepted, one job done",
       {true, {{"done", "queued"}}},
       {"done", "done"},
       true,
       false,
       {{2, 0, 0}}},
      {"accepted, its request file gone",
       {false, {{"done", "queued"}}},
       {"done", "failed"},
       true,
       false,
       {{1, 0, 1}}},
      {"answered for good",
       {true, {{"done", "failed"}}, true},
       {"done", "failed"},
       true,
       false,
       std::nullopt},
      {"held by a live host",
       {true, {{"queued", "queued"}}, false, true},
       {"queued", "queued"},
       false,
       true,
       std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(root_);
    const Request request = queue({wav("a.wav"), wav("b.wav")});
    const std::string name = FinderConversion::fileName(request.id);
    const fs::path dead =
        FinderConversion::requests(root_) / (".taken-2147483647-" + name);  // no such pid
    fs::rename(FinderConversion::requests(root_) / name, dead);
    if (!c.left.requestFile) fs::remove(dead);
    Acknowledgement before;
    if (c.left.states) {
      before.id = request.id;
      before.accepted = true;
      before.terminal = c.left.terminal;
      for (const std::string& state : *c.left.states) {
        before.jobs.push_back(platform::Uuid::random());
        before.states[before.jobs.back().text()] = state;
      }
      if (c.left.states->front() == "done") {
        writeText(music_ / "a.flac", "earlier");
        before.outputs.push_back(Url::fromFilePath(music_ / "a.flac"));
      }
      FinderConversion::write(before, answerFile(request.id));
    }
    std::optional<platform::LockFile> liveHost;
    if (c.left.heldByALiveHost) {
      liveHost = platform::LockFile::openExisting(dead);
      ASSERT_TRUE(liveHost && liveHost->tryLockExclusive());
    }

    told_.clear();
    serve();

    if (c.told) {
      ASSERT_EQ(told_.size(), 1u);
      EXPECT_EQ(told_[0].id, request.id);
      EXPECT_EQ((std::vector<std::size_t>{told_[0].converted, told_[0].failures.size(),
                                          told_[0].failedUnnamed}),
                *c.told);
    } else {
      EXPECT_EQ(told_.size(), 0u);
    }
    const Acknowledgement after = *answerTo(request.id);
    std::vector<std::string> states;
    for (const platform::Uuid& job : after.jobs) states.push_back(after.states.at(job.text()));
    EXPECT_EQ(states, c.states);
    EXPECT_EQ(after.terminal, c.terminal);
    EXPECT_EQ(fs::exists(dead), c.requestFileStays);
    if (c.left.requestFile && !c.requestFileStays) {
      EXPECT_EQ(queueNames(), std::set<std::string>{});
    }
    fs::remove(music_ / "a.flac");
    fs::remove(music_ / "b.flac");
  }
}

// A host killed after its output took the final name, and before the acknowledgement said so,
// left a file that the next host converted again ("a 2.flac"). The final name is now a second
// link of the hidden output until the record is written, so the next host records it instead.
TEST_F(HostServiceTest, AnOutputNamedByAHostThatIsGoneIsRecordedNotConvertedAgain) {
  const struct {
    const char* name;
    std::vector<std::string> states;  // the dead host's record of a.wav and b.wav
    bool aNamed;                      // a.flac was linked to a's hidden output
    bool bNamed;
    std::size_t conversions;  // what the next host hands to ffmpeg
  } cases[] = {
      {"named, not yet recorded", {"queued", "queued"}, true, false, 1},
      {"recorded, its hidden name not yet dropped", {"done", "queued"}, true, false, 1},
      {"all recorded, the hidden names not yet dropped", {"done", "done"}, true, true, 0},
      {"cut short: a partial never gets a name", {"queued", "queued"}, false, false, 2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(root_);
    fs::remove_all(music_);
    fs::create_directories(music_);
    fs::remove(calls_);
    const Request request = queue({wav("a.wav"), wav("b.wav")});
    const std::string name = FinderConversion::fileName(request.id);
    fs::rename(FinderConversion::requests(root_) / name,
               FinderConversion::requests(root_) / (".taken-2147483647-" + name));  // no such pid
    Acknowledgement left;
    left.id = request.id;
    left.accepted = true;
    left.terminal = c.states[1] == "done";
    for (std::size_t job = 0; job < 2; ++job) {
      left.jobs.push_back(platform::Uuid::random());
      left.states[left.jobs.back().text()] = c.states[job];
      const fs::path hidden = music_ / (".tonebrook-" + left.jobs.back().text() + ".flac");
      const fs::path output = music_ / (job == 0 ? "a.flac" : "b.flac");
      if (job == 0 ? c.aNamed : c.bNamed) {
        fs::copy_file(music_ / (job == 0 ? "a.wav" : "b.wav"), hidden);
        fs::create_hard_link(hidden, output);
      } else if (job == 0) {
        writeText(hidden, "partial");
      }
      if (c.states[job] == "done") left.outputs.push_back(Url::fromFilePath(output));
    }
    FinderConversion::write(left, answerFile(request.id));

    serve();

    const Acknowledgement after = *answerTo(request.id);
    EXPECT_TRUE(after.terminal);
    for (const platform::Uuid& job : after.jobs) EXPECT_EQ(after.states.at(job.text()), "done");
    EXPECT_EQ(after.outputs, (std::vector<Url>{Url::fromFilePath(music_ / "a.flac"),
                                               Url::fromFilePath(music_ / "b.flac")}));
    EXPECT_EQ(calls().size(), c.conversions);
    EXPECT_EQ(test_support::names(music_),
              (std::set<std::string>{"a.wav", "b.wav", "a.flac", "b.flac"}));
    EXPECT_EQ(readText(music_ / "a.flac"), readText(music_ / "a.wav"));
  }
}

// Work taken over was converted in the order the directory listed it: a host killed again and
// again before reaching the oldest request could leave it waiting for ever behind younger ones.
TEST_F(HostServiceTest, WorkOfAGoneHostIsTakenOverOldestRequestFirst) {
  constexpr int kRequests = 6;
  std::map<std::string, int> ageOfJob;  // job identifier -> the request's place in time
  const auto now = fs::file_time_type::clock::now();
  for (int place = 0; place < kRequests; ++place) {
    const Request request = queue({wav("in" + std::to_string(place) + ".wav")});
    const std::string name = FinderConversion::fileName(request.id);
    const fs::path taken = FinderConversion::requests(root_) / (".taken-2147483647-" + name);
    fs::rename(FinderConversion::requests(root_) / name, taken);
    fs::last_write_time(taken, now - std::chrono::minutes(kRequests - place));
    Acknowledgement accepted;
    accepted.id = request.id;
    accepted.accepted = true;
    accepted.jobs = {platform::Uuid::random()};
    accepted.states[accepted.jobs.front().text()] = "queued";
    FinderConversion::write(accepted, answerFile(request.id));
    ageOfJob[accepted.jobs.front().text()] = place;
  }

  serve();

  std::vector<int> order;
  for (const std::string& call : calls()) {
    const std::size_t tag = call.find(".tonebrook-") + std::string(".tonebrook-").size();
    order.push_back(ageOfJob.at(call.substr(tag, 36)));
  }
  EXPECT_EQ(order, (std::vector<int>{0, 1, 2, 3, 4, 5}));
}

// 4. A host never leaves while a delivery holds the lifecycle lock, and leaves holding it.
TEST_F(HostServiceTest, ARealHostStaysWhileADeliveryHoldsTheLockAndAnswersWhatItQueued) {
  std::optional<FinderConversion::LifecycleLock> delivery =
      FinderConversion::LifecycleLock::acquire(root_);
  platform::ChildProcess host = startHost();
  // Past its 2 seconds of idleness, it is still there for the delivery.
  EXPECT_EQ(host.waitFor(3s), std::nullopt);
  const Request request = queue({wav("late.wav")});
  delivery.reset();
  ASSERT_TRUE(waitUntil([&] { return answerTo(request.id).has_value(); }));
  EXPECT_TRUE(answerTo(request.id)->accepted);
  EXPECT_EQ(host.waitFor(10s), 0);
  EXPECT_TRUE(answerTo(request.id)->terminal);
  // Gone, and the lock with it.
  EXPECT_NO_THROW(auto lock = FinderConversion::LifecycleLock::acquire(root_));
}

TEST_F(HostServiceTest, AHostLeavesHoldingTheLifecycleLock) {
  std::optional<FinderConversion::LifecycleLock> held = [&] {
    ScopedPath path(bin_);
    return host::serveQueue({root_, false, 0.1, 60}, {"--finder-service"});
  }();
  ASSERT_TRUE(held);
  // A delivery meeting a host on its way out hears the contention sentence, not silence.
  EXPECT_FAILURE_SENTENCE(auto lock = FinderConversion::LifecycleLock::acquire(root_),
                          FinderConversion::kLockHeldSentence);
  held.reset();
  EXPECT_NO_THROW(auto lock = FinderConversion::LifecycleLock::acquire(root_));
}

}  // namespace
