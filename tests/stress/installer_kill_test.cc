// The installer (`Tonebrook --install-addon PACKAGE`, which becomes tonebrook-install) killed at
// random moments of updates between two package versions, a provider running or not. After each
// kill the state root is checked, the next call must get what is right for the package and
// receipt left behind, and the next install must succeed and clear what the killed one left.
#include <chrono>
#include <fstream>
#include <thread>

#include "exchange/inventory.h"
#include "exchange/record_files.h"
#include "platform/desktop/bundle.h"
#include "platform/testing/name_watch.h"
#include "platform/testing/processes.h"
#include "provider/installation_checks.h"
#include "provider/provider.h"
#include "tests/stress/stress_fixture.h"

namespace stress {
namespace {

constexpr int kDefaultRounds = 60;

class InstallerKills : public Stress {
 protected:
  std::string installedVersion() const {
    std::optional<platform::Bundle> bundle = platform::Bundle::open(installedPackage());
    if (!bundle) return "none";
    return bundle->infoString("CFBundleVersion").value_or("unknown");
  }
  std::optional<FinderConversion::Receipt> receipt() const {
    return FinderConversion::tryRead<FinderConversion::Receipt>(stateRoot() /
                                                                FinderConversion::names::kReceipt);
  }
  // agree: the installed package is the one the receipt describes, so a delivery may go on.
  bool packageAndReceiptAgree() const {
    const std::optional<FinderConversion::Receipt> bound = receipt();
    try {
      return bound && FinderConversion::matchesInventory(
                          FinderConversion::inventory(installedPackage()), bound->files);
    } catch (const std::exception&) {
      return false;
    }
  }

  // leftovers: hidden entries an installer makes on its way (the staged package, the client's
  // copy, a temporary receipt) that are still there.
  std::vector<std::string> leftovers() const {
    std::vector<std::string> found;
    const std::pair<fs::path, std::string> places[] = {
        {installedPackage().parent_path(), "." + std::string(FinderConversion::serviceName) + "."},
        {home() / ".local/bin", ".tonebrook-services."},
        {stateRoot(), ".receipt.json.tmp-"},
    };
    for (const auto& [folder, prefix] : places) {
      for (const auto& entry : fs::directory_iterator(folder)) {
        const std::string name = entry.path().filename().string();
        if (name.starts_with(prefix)) found.push_back((folder / name).string());
      }
    }
    return found;
  }

  // where: what the killed installer had done, from what it left (`before`: the leftovers
  // there were before it started).
  std::string where(std::optional<int> status, const std::string& from, const std::string& to,
                    const std::vector<std::string>& before) {
    if (status == 0) return "after it had finished";
    const std::string installed = installedVersion();
    const std::string described = receipt() ? receipt()->payloadVersion : "none";
    const bool staged = leftovers() != before;
    if (installed == from && described == from) {
      return staged ? "while staging the new package" : "before staging (retiring, locking)";
    }
    if (installed == to && described == from) return "between the swap and the receipt";
    if (installed == to && described == to) {
      return staged ? "after the receipt, while removing the old package" : "at its very end";
    }
    return "package " + installed + ", receipt " + described;
  }

  // waitForTheSwap waits until the package appears under its installed name (looked for every
  // millisecond), or the installer has ended.
  static void waitForTheSwap(platform::testing::NameWatch& services, e2e::Program& installer) {
    const std::string installed(FinderConversion::serviceName);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (std::chrono::steady_clock::now() < deadline &&
           platform::testing::processAlive(installer.pid())) {
      for (const std::string& name : services.collect()) {
        if (name == installed) return;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }

  // installToTheEnd runs the installer without a kill; it must succeed (a host leaving with the
  // lifecycle lock may make it try again) and leave nothing of its own or of earlier installers.
  // How long it took.
  double installToTheEnd(const fs::path& package, const std::string& version) {
    double seconds = 0;
    for (int attempt = 0; attempt < 5; ++attempt) {
      const auto began = std::chrono::steady_clock::now();
      const RunResult result = run({host().string(), "--install-addon", package.string()});
      seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
      if (result.status == 0) break;
      EXPECT_EQ(result.errors, std::string(FinderConversion::kLockHeldSentence) + "\n");
      std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    EXPECT_EQ(installedVersion(), version);
    EXPECT_TRUE(packageAndReceiptAgree());
    EXPECT_EQ(leftovers(), std::vector<std::string>{}) << "the next install clears what was left";
    return seconds;
  }
};

TEST_F(InstallerKills, EveryKillLeavesAnAddOnTheNextCallAndTheNextInstallCanTrust) {
  beginRun("installer kills", kDefaultRounds);
  prepareAudio(0.5);
  const std::map<std::string, fs::path> packages = {{"1.0.0", builtPackage()},
                                                    {"2.0.0", packageWithVersion("2.0.0")}};
  // The kills come within the time a whole update takes, with a provider to retire first or
  // without; both measured here, the first while one runs.
  convertUntilServed({input("first")}, {}, *std::make_unique<Tally>());
  double withProvider = installToTheEnd(packages.at("2.0.0"), "2.0.0");
  const double withoutProvider = installToTheEnd(packages.at("1.0.0"), "1.0.0");
  Tally landed;
  Tally next;
  for (int round = 1; round <= rounds(); ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    const std::string from = installedVersion();
    const std::string to = from == "1.0.0" ? "2.0.0" : "1.0.0";
    // Half the updates find a provider running, which they must first ask to retire.
    const bool providerRunning = chance(0.5);
    if (providerRunning) convertUntilServed({input("before-" + std::to_string(round))}, {}, next);
    const int delay =
        moment(0, static_cast<int>(1000 * (providerRunning ? withProvider : withoutProvider)));

    // A quarter of the kills are aimed at the moment the package is swapped into place.
    const bool atTheSwap = chance(0.25);
    const std::vector<std::string> before = leftovers();
    platform::testing::NameWatch services(installedPackage().parent_path());
    auto installer = start({host().string(), "--install-addon", packages.at(to).string()});
    if (atTheSwap) {
      waitForTheSwap(services, *installer);
    } else {
      std::this_thread::sleep_for(std::chrono::milliseconds(delay));
    }
    installer->process.kill();
    const std::optional<int> status = installer->waitFor(platform::Seconds(10));
    landed.add(where(status, from, to, before));

    audit("after kill " + std::to_string(round),
          platform::testing::processesRunning(installedProvider()).empty());
    const fs::path file = input("after-" + std::to_string(round));
    if (packageAndReceiptAgree()) {
      // A provider asked to retire, or running from the package just replaced, refuses; while
      // it ends, the provider the bus starts meets its lock and ends too.
      convertUntilServed({file},
                         {std::string(kFinishingUpdateSentence),
                          std::string(FinderConversion::kLockHeldSentence), kNotStartedSentence},
                         next);
    } else {
      const RunResult result = convert({file});
      EXPECT_EQ(result.errors, std::string(provider::kAddOnRepairSentence) + "\n");
      next.add("needs repair until the next install");
    }
    // The call just made left a provider running.
    withProvider = std::max(withProvider, installToTheEnd(packages.at(to), to));
    if (HasFailure()) break;
  }
  convertUntilServed({input("last")}, {std::string(kFinishingUpdateSentence)}, next);
  settleAndCheck(60);
  landed.print("installer kills, where they landed");
  next.print("the calls after each kill");
}

}  // namespace
}  // namespace stress
