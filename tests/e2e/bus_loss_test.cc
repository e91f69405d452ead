// A provider whose session bus goes away: a normal run ends and gives back its lock, so that the
// next bus can start a provider; verification runs and a provider that never had a bus go on.
#include <chrono>
#include <thread>

#include "exchange/record_files.h"
#include "platform/core/files.h"
#include "tests/e2e/e2e_fixture.h"

namespace e2e {
namespace {

class BusLoss : public EndToEnd {
 protected:
  void SetUp() override {
    EndToEnd::SetUp();
    install(builtPackage());
  }

  // providerLockFree: nobody holds the provider lock of the state root.
  bool providerLockFree() const {
    std::optional<platform::LockFile> lock =
        platform::LockFile::open(stateRoot() / FinderConversion::names::kProviderLock);
    return lock && lock->tryLockExclusive();
  }

  // startServing starts the provider with `arguments` and waits for its heartbeat and its
  // registration, which follows the first heartbeat at once.
  std::unique_ptr<Program> startServing(const std::vector<std::string>& arguments) {
    auto provider = start(arguments);
    EXPECT_TRUE(waitFor([&] { return providerPid() == provider->pid(); }, 10))
        << provider->errors();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    return provider;
  }
};

TEST_F(BusLoss, NormalRunEndsWithStatusZeroAndReleasesItsLock) {
  startBus();
  auto provider = startServing({installedProvider().string()});
  stopBus();
  EXPECT_EQ(provider->waitFor(platform::Seconds(5)), 0) << provider->errors();
  EXPECT_TRUE(providerLockFree());
  if (!journalRuns()) {
    EXPECT_EQ(provider->errors(), "TonebrookQuickConversion: The session bus connection closed.\n");
  }
}

TEST_F(BusLoss, OnlyANormalRunThatHadABusEnds) {
  const struct {
    const char* name;
    bool bus;
    std::vector<std::string> arguments;
  } cases[] = {
      {"a normal run that never reached a bus", false, {installedProvider().string()}},
      {"live verification",
       true,
       {installedProvider().string(), "--verify-live-provider", stateRoot().string(),
        "test.tonebrook.BusLoss"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.bus) startBus();
    auto provider = startServing(c.arguments);
    if (c.bus) stopBus();
    EXPECT_EQ(provider->waitFor(platform::Seconds(1)), std::nullopt) << provider->errors();
    EXPECT_FALSE(providerLockFree());
    provider->process.kill();
    provider->waitFor(platform::Seconds(5));
  }
}

}  // namespace
}  // namespace e2e
