// The provider executable in packaged verification, with the real host it launches.
#include <nlohmann/json.hpp>

#include "exchange/record_files.h"
#include "tests/e2e/e2e_fixture.h"

namespace e2e {
namespace {

constexpr const char* kLockSentence =
    "Another conversion provider is still running. Retry after it finishes.\n";

class PackagedVerification : public EndToEnd {
 protected:
  void SetUp() override {
    EndToEnd::SetUp();
    install(builtPackage());
  }
  std::vector<std::string> verify(const std::string& format, const fs::path& file) {
    return {installedProvider().string(), "--verify-provider", stateRoot().string(), format,
            file.string()};
  }
};

TEST_F(PackagedVerification, SucceedsWhenTheLaunchedHostLeavesItsSign) {
  const fs::path tone = audioFile("tone one.wav");
  const RunResult result = run(verify("mp3", tone));
  ASSERT_EQ(result.status, 0) << result.errors;
  EXPECT_EQ(result.errors, "");

  // The host was launched with exactly its three arguments and took the queued request.
  const nlohmann::json sign = nlohmann::json::parse(
      FinderConversion::readDocument(stateRoot() / FinderConversion::names::kPackagedInbox));
  EXPECT_EQ(sign.at("arguments"),
            (std::vector<std::string>{"--finder-service", "--verify-finder-inbox",
                                      stateRoot().string()}));
  ASSERT_TRUE(
      waitFor([&] { return !fs::is_empty(FinderConversion::acknowledgements(stateRoot())); }, 10));
  for (const auto& entry :
       fs::directory_iterator(FinderConversion::acknowledgements(stateRoot()))) {
    // The host may be rewriting the acknowledgement: its hidden temporary file is no record.
    if (entry.path().filename().string().starts_with(".")) continue;
    const auto ack = FinderConversion::read<FinderConversion::Acknowledgement>(entry.path());
    EXPECT_TRUE(ack.accepted) << ack.message;
  }
  EXPECT_FALSE(fs::exists(stateRoot() / FinderConversion::names::kProviderError));
}

TEST_F(PackagedVerification, RefusedDeliveryEndsWithStatusOneAndLeavesTheSentence) {
  const RunResult result = run(verify("wma", audioFile("tone.wav")));
  const std::string sentence(FinderConversion::kSelectionSentence);
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.errors, sentence + "\n");
  EXPECT_EQ(FinderConversion::readDocument(stateRoot() / FinderConversion::names::kProviderError),
            FinderConversion::encode(sentence));
  EXPECT_FALSE(fs::exists(stateRoot() / FinderConversion::names::kPackagedInbox));
}

// Without /proc the running executable, and so the add-on package, cannot be known: the call
// fails with that reason rather than hash whatever tree the working directory holds.
TEST_F(PackagedVerification, AnUnknownRunningExecutableFailsTheCall) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the address sanitizer itself needs /proc (stack bounds, symbols)";
#endif
  const std::vector<std::string> arguments = verify("mp3", audioFile("tone.wav"));
  std::string command = "mount -t tmpfs none /proc && exec";
  for (const std::string& argument : arguments) command += " '" + argument + "'";
  const RunResult result =
      run({"/usr/bin/unshare", "--mount", "--map-root-user", "sh", "-c", command});
  if (result.status != 1 || result.errors.find("mount") != std::string::npos) {
    GTEST_SKIP() << "no mount namespace here: " << result.errors;
  }
  EXPECT_EQ(result.errors, "/proc/self/exe: No such file or directory\n");
}

TEST_F(PackagedVerification, SecondProviderOnTheSameRootEndsWithTheLockSentence) {
  auto first = start({installedProvider().string(), "--verify-live-provider", stateRoot().string(),
                      "test.tonebrook.First"});
  ASSERT_TRUE(waitFor([&] { return providerPid() == first->pid(); }, 10));

  const RunResult second = run(verify("mp3", audioFile("tone.wav")));
  EXPECT_EQ(second.status, 1);
  EXPECT_EQ(second.errors, kLockSentence);
  EXPECT_EQ(first->waitFor(platform::Seconds(0)), std::nullopt) << "the first provider goes on";
}

TEST_F(PackagedVerification, FourArgumentsAreANormalRunOnTheDefaultRoot) {
  const fs::path otherRoot = directory() / "other-root";
  auto provider =
      start({installedProvider().string(), "--verify-provider", otherRoot.string(), "mp3"});
  // A normal run serves the default state root and keeps running.
  ASSERT_TRUE(waitFor([&] { return providerPid() == provider->pid(); }, 10)) << provider->errors();
  EXPECT_EQ(provider->waitFor(platform::Seconds(0.5)), std::nullopt);
  EXPECT_FALSE(fs::exists(otherRoot));
}

}  // namespace
}  // namespace e2e
