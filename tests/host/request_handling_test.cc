#include "host/request_handling.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <nlohmann/json.hpp>
#include <thread>

#include "exchange/constants.h"
#include "exchange/record_files.h"
#include "exchange/records.h"
#include "host/conversion.h"
#include "host/finder_service.h"
#include "support/temp_directory.h"
#include "tests/host/wav.h"

namespace {

namespace fs = std::filesystem;
using FinderConversion::Acknowledgement;
using FinderConversion::Request;

class FinderServiceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(directory_ / "Music");
    root_ = directory_ / "state";
  }

  Request queue(const std::vector<fs::path>& inputs, std::string format = "flac") {
    Request request;
    request.format = std::move(format);
    for (const fs::path& input : inputs) {
      request.inputs.push_back({platform::Url::fromFilePath(input), std::nullopt});
    }
    FinderConversion::enqueue(request, root_);
    return request;
  }

  void serve(const std::vector<std::string>& arguments = {"--finder-service"}) {
    host::FinderServiceOptions options{root_, arguments.size() > 1, 0.3};
    host::serveQueue(options, arguments);
  }

  Acknowledgement answerTo(const platform::Uuid& id) {
    return FinderConversion::read<Acknowledgement>(FinderConversion::acknowledgements(root_) /
                                                   FinderConversion::fileName(id));
  }

  bool queueIsEmpty() { return fs::is_empty(FinderConversion::requests(root_)); }

  test_support::TempDirectory temporary_{"host-service"};
  fs::path directory_ = temporary_.path();
  fs::path root_;
};

TEST_F(FinderServiceTest, AcceptsConvertsAndFinishesEveryQueuedRequest) {
  if (!host::ffmpegAvailable()) GTEST_SKIP() << "ffmpeg is not installed";
  fs::path first = directory_ / "Music" / "one.wav";
  fs::path second = directory_ / "Music" / "two.wav";
  host_test::writeSilentWav(first);
  host_test::writeSilentWav(second);
  Request both = queue({first, second});
  Request again = queue({first});
  // Queued later, even where the clock's grain makes both writes look simultaneous.
  fs::path later = FinderConversion::requests(root_) / FinderConversion::fileName(again.id);
  fs::last_write_time(later, fs::last_write_time(later) + std::chrono::seconds(1));

  serve();

  Acknowledgement answer = answerTo(both.id);
  EXPECT_TRUE(answer.accepted);
  EXPECT_EQ(answer.id, both.id);
  EXPECT_TRUE(answer.terminal);
  ASSERT_EQ(answer.jobs.size(), 2u);
  for (const platform::Uuid& job : answer.jobs) EXPECT_EQ(answer.states.at(job.text()), "done");
  EXPECT_EQ(answer.outputs, (std::vector<platform::Url>{
                                platform::Url::fromFilePath(directory_ / "Music" / "one.flac"),
                                platform::Url::fromFilePath(directory_ / "Music" / "two.flac")}));
  // The second request of the same file found "one.flac" taken.
  EXPECT_EQ(
      answerTo(again.id).outputs,
      std::vector<platform::Url>{platform::Url::fromFilePath(directory_ / "Music" / "one 2.flac")});
  EXPECT_TRUE(queueIsEmpty());
}

TEST_F(FinderServiceTest, AnswersAtOnceThenReportsEachJob) {
  if (!host::ffmpegAvailable()) GTEST_SKIP() << "ffmpeg is not installed";
  fs::path good = directory_ / "Music" / "good.wav";
  fs::path noise = directory_ / "Music" / "noise.wav";
  host_test::writeSilentWav(good);
  std::ofstream(noise) << "not audio";
  Request request = queue({good, noise}, "ogg");
  std::string name = FinderConversion::fileName(request.id);
  fs::path taken = FinderConversion::requests(root_) / ".taken-test";
  fs::rename(FinderConversion::requests(root_) / name, taken);

  std::optional<host::AcceptedRequest> accepted =
      host::answerRequest(root_, {taken, name, std::nullopt});

  ASSERT_TRUE(accepted);
  EXPECT_FALSE(fs::exists(taken));
  Acknowledgement first = answerTo(request.id);
  EXPECT_TRUE(first.accepted);
  EXPECT_FALSE(first.terminal);
  ASSERT_EQ(first.jobs.size(), 2u);
  EXPECT_EQ(first.states.at(first.jobs[0].text()), "queued");
  EXPECT_FALSE(host::convertNext(*accepted));
  EXPECT_EQ(answerTo(request.id).states.at(first.jobs[0].text()), "done");
  EXPECT_TRUE(host::convertNext(*accepted));
  Acknowledgement last = answerTo(request.id);
  EXPECT_EQ(last.states.at(first.jobs[1].text()), "failed");
  EXPECT_TRUE(last.terminal);
  EXPECT_EQ(last.outputs, std::vector<platform::Url>{
                              platform::Url::fromFilePath(directory_ / "Music" / "good.ogg")});
}

// Once the request has ended, and only then, the host hears how: each failed file by name (made
// valid UTF-8) with its own reason.
TEST_F(FinderServiceTest, ARequestThatEndsIsToldOnceWithEachFailedFilesReason) {
  if (!host::ffmpegAvailable()) GTEST_SKIP() << "ffmpeg is not installed";
  const fs::path music = directory_ / "Music";
  host_test::writeSilentWav(music / "good.wav");
  std::ofstream(music / "caf\xe9.wav") << "a text file, renamed";
  host_test::writeSilentWav(music / "gone.wav");
  Request request = queue({music / "good.wav", music / "caf\xe9.wav", music / "gone.wav"}, "mp3");
  std::string name = FinderConversion::fileName(request.id);
  fs::path taken = FinderConversion::requests(root_) / ".taken-test";
  fs::rename(FinderConversion::requests(root_) / name, taken);
  std::optional<host::AcceptedRequest> accepted =
      host::answerRequest(root_, {taken, name, std::nullopt});
  ASSERT_TRUE(accepted);
  fs::remove(music / "gone.wav");  // after acceptance, before its turn

  std::vector<host::RequestOutcome> told;
  const host::OutcomeHandler hear = [&](const host::RequestOutcome& outcome) {
    told.push_back(outcome);
  };
  while (!host::advance(*accepted, std::chrono::seconds(60), hear)) {
    EXPECT_EQ(told.size(), 0u);
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }

  ASSERT_EQ(told.size(), 1u);
  EXPECT_EQ(told[0].id, request.id);
  EXPECT_EQ(told[0].format, "mp3");
  EXPECT_EQ(told[0].converted, 1u);
  EXPECT_EQ(told[0].failures,
            (std::vector<host::FailedFile>{{"caf\uFFFD.wav", "not an audio file"},
                                           {"gone.wav", "the file is no longer there"}}));
  EXPECT_EQ(told[0].failedUnnamed, 0u);
  EXPECT_EQ(told[0].outputs,
            std::vector<platform::Url>{platform::Url::fromFilePath(music / "good.mp3")});
  EXPECT_TRUE(answerTo(request.id).terminal);
}

// A host started before its state root exists gets no directory watch at first: it looks every
// 50 ms, watches once the queue is there, and answers a request queued while it waits.
TEST_F(FinderServiceTest, AnswersARequestQueuedWhileItWaitsEvenWithoutAQueueAtStart) {
  ASSERT_FALSE(fs::exists(root_));
  std::thread host([&] { host::serveQueue({root_, false, 1.0}, {"--finder-service"}); });
  std::this_thread::sleep_for(std::chrono::milliseconds(120));
  Request first = queue({directory_ / "Music" / "gone.wav"});
  std::this_thread::sleep_for(std::chrono::milliseconds(120));
  Request second = queue({directory_ / "Music" / "gone too.wav"});
  host.join();
  for (const Request& request : {first, second}) {
    Acknowledgement answer = answerTo(request.id);
    EXPECT_FALSE(answer.accepted);
    EXPECT_EQ(answer.id, request.id);
  }
  EXPECT_TRUE(queueIsEmpty());
}

TEST_F(FinderServiceTest, RefusesWhatItCannotTake) {
  fs::path missing = directory_ / "Music" / "gone.wav";
  Request unreadable = queue({missing});
  // A request that no longer decodes still has its identifier in its file name.
  platform::Uuid broken = platform::Uuid::random();
  std::ofstream(FinderConversion::requests(root_) / FinderConversion::fileName(broken)) << "{";

  serve();

  Acknowledgement refusal = answerTo(unreadable.id);
  EXPECT_FALSE(refusal.accepted);
  EXPECT_EQ(refusal.message, "Tonebrook cannot read \u201cgone.wav\u201d.");
  EXPECT_EQ(answerTo(broken).message, host::kUnreadableRequestSentence);
  EXPECT_FALSE(answerTo(broken).accepted);
  EXPECT_TRUE(queueIsEmpty());
}

TEST_F(FinderServiceTest, VerificationLeavesTheArrivalSignWithItsArguments) {
  std::vector<std::string> arguments{"--finder-service", "--verify-finder-inbox", root_.string()};
  fs::create_directories(root_);
  serve(arguments);
  std::ifstream sign(root_ / FinderConversion::names::kPackagedInbox);
  nlohmann::json document = nlohmann::json::parse(sign);
  EXPECT_EQ(document.at("arguments").get<std::vector<std::string>>(), arguments);
}

TEST(FinderServiceArguments, AcceptsOnlyAnOptionalInbox) {
  auto verification = host::parseFinderServiceArguments({"--verify-finder-inbox", "/tmp/root"});
  ASSERT_TRUE(verification);
  EXPECT_TRUE(verification->verification);
  EXPECT_EQ(verification->root, "/tmp/root");
  ASSERT_TRUE(host::parseFinderServiceArguments({}));
  EXPECT_FALSE(host::parseFinderServiceArguments({}).value().verification);
  EXPECT_FALSE(host::parseFinderServiceArguments({"--verify-finder-inbox"}));
  EXPECT_FALSE(host::parseFinderServiceArguments({"--other", "/tmp/root"}));
}

}  // namespace
