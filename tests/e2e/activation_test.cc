// A provider the bus starts that cannot serve the name the bus waits for: it ends at once with a
// logged reason and gives back its lock, and the client, after one more try, tells the user;
// started any other way, it runs on as before.
#include <chrono>
#include <fstream>
#include <iterator>
#include <thread>

#include "exchange/record_files.h"
#include "platform/core/files.h"
#include "tests/e2e/e2e_fixture.h"

namespace e2e {
namespace {

constexpr const char* kNotStartedSentence =
    "The Tonebrook conversion service could not be started. Retry in a moment.\n";
constexpr const char* kSquattedName = "app.tonebrook.Squatted";

// The ways an installed package can leave the bus's caller waiting in vain.
enum class Fault {
  noServices,  // a half-swapped package: the Info.plist names no port at all
  nameTaken,   // the port it names is held by another process
};

class Activation : public EndToEnd {
 protected:
  void SetUp() override {
    EndToEnd::SetUp();
    install(builtPackage());
    startBus();
    std::ifstream in(infoPlist(), std::ios::binary);
    installedInfo_.assign(std::istreambuf_iterator<char>(in), {});
  }

  fs::path infoPlist() const { return installedPackage() / "Contents/Info.plist"; }

  // breakPackage rewrites the installed Info.plist so that the provider cannot serve the name
  // the bus starts it for; each time from the Info.plist as installed.
  void breakPackage(Fault fault) {
    std::string text = installedInfo_;
    if (fault == Fault::noServices) {
      const std::size_t from = text.find("  <key>NSServices</key>");
      const std::size_t to = text.rfind("</array>");
      ASSERT_NE(from, std::string::npos);
      text.erase(from, to + std::string("</array>\n").size() - from);
    } else {
      const std::string port = "<key>NSPortName</key>\n      <string>";
      for (std::size_t at = text.find(port); at != std::string::npos;
           at = text.find(port, at + 1)) {
        const std::size_t open = at + port.size();
        text.replace(open, text.find("</string>", open) - open, kSquattedName);
      }
      ASSERT_NE(text, installedInfo_);
      squatter_ = std::make_unique<platform::testing::BusNameOwner>(busAddress(), kSquattedName);
    }
    std::ofstream(infoPlist(), std::ios::binary | std::ios::trunc) << text;
  }

  bool providerLockFree() const {
    std::optional<platform::LockFile> lock =
        platform::LockFile::open(stateRoot() / FinderConversion::names::kProviderLock);
    return lock && lock->tryLockExclusive();
  }

 private:
  std::string installedInfo_;
  std::unique_ptr<platform::testing::BusNameOwner> squatter_;
};

struct FaultCase {
  const char* name;
  Fault fault;
  const char* logged;  // what the provider's log line says
};
const FaultCase kFaults[] = {
    {"no port name", Fault::noServices, "names no NSPortName to serve. Ending."},
    {"name held by another process", Fault::nameTaken,
     "The bus name app.tonebrook.Squatted cannot be taken (File exists). Ending."},
};

// Before, the bus held the call until its own activation timeout (25 s) while the provider ran
// on; now the client hears within a second, after one more start.
TEST_F(Activation, CallToAPackageThatCannotServeEndsWithASentenceAtOnce) {
  const fs::path file = audioFile("tone.wav");
  for (const FaultCase& c : kFaults) {
    SCOPED_TRACE(c.name);
    breakPackage(c.fault);
    const auto began = std::chrono::steady_clock::now();
    const RunResult result = run({client().string(), "mp3", file.string()}, 10);
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - began;
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.errors, kNotStartedSentence);
    EXPECT_LT(took.count(), 3.0);
    EXPECT_TRUE(waitFor([&] { return providerLockFree(); }, 2));
  }
}

// The bus hands its address to what it starts: the same start by hand, where the log is seen.
TEST_F(Activation, ProviderStartedByTheBusEndsWithTheReasonAndItsLockFree) {
  for (const FaultCase& c : kFaults) {
    SCOPED_TRACE(c.name);
    breakPackage(c.fault);
    auto provider = start({installedProvider().string()}, {{"DBUS_STARTER_ADDRESS", busAddress()},
                                                           {"DBUS_STARTER_BUS_TYPE", "session"}});
    EXPECT_EQ(provider->waitFor(platform::Seconds(5)), 1);
    EXPECT_TRUE(providerLockFree());
    if (!journalRuns()) {
      const std::string errors = provider->errors();
      EXPECT_NE(errors.find(c.logged), std::string::npos) << errors;
    }
  }
}

// Started any other way, a provider whose registration fails runs on silently, as before.
TEST_F(Activation, ProviderStartedOtherwiseRunsOnSilently) {
  for (const FaultCase& c : kFaults) {
    SCOPED_TRACE(c.name);
    breakPackage(c.fault);
    auto provider = start({installedProvider().string()});
    EXPECT_EQ(provider->waitFor(platform::Seconds(1)), std::nullopt);
    EXPECT_FALSE(providerLockFree());
    EXPECT_EQ(provider->errors(), "");
    provider->process.kill();
    provider->waitFor(platform::Seconds(5));
  }
}

}  // namespace
}  // namespace e2e
