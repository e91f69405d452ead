#include "host/installer.h"

#include <chrono>
#include <iostream>
#include <optional>
#include <system_error>

#include "exchange/inventory.h"
#include "exchange/record_files.h"
#include "host/addon_entries.h"
#include "host/roles.h"
#include "lifetime/finder_provider_lifetime.h"
#include "platform/core/directory.h"
#include "platform/core/exchange_paths.h"
#include "platform/core/files.h"
#include "platform/core/uuid.h"
#include "platform/desktop/bundle.h"
#include "platform/linux/bookmark.h"

namespace host {
namespace {

namespace fs = std::filesystem;
using FinderConversion::failure;

// stagingPrefix: the start of a staged package's hidden name, which a UUID completes.
std::string stagingPrefix() {
  return "." + std::string(FinderConversion::serviceName) + ".";
}

// Staging is a copy of the package beside the installed one; whatever it holds when the
// object goes (the new copy after a failure, the old package after a swap) is removed.
class Staging {
 public:
  explicit Staging(const fs::path& servicesRoot)
      : path_(servicesRoot / (stagingPrefix() + platform::Uuid::random().text())) {}
  Staging(const Staging&) = delete;
  Staging& operator=(const Staging&) = delete;
  ~Staging() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
  }
  const fs::path& path() const noexcept { return path_; }

 private:
  fs::path path_;
};

platform::Bundle openAddOn(const fs::path& package) {
  std::optional<platform::Bundle> bundle = platform::Bundle::open(package);
  if (!bundle || bundle->identifier() != kAddOnIdentifier || !bundle->executablePath() ||
      !fs::is_regular_file(*bundle->executablePath())) {
    throw failure(std::string(kNotAnAddOnSentence));
  }
  return *bundle;
}

FinderConversion::Receipt receiptFor(const platform::Bundle& addOn, const fs::path& hostBundle,
                                     FinderConversion::Inventory files) {
  const platform::Url appPath = platform::Url::fromFilePath(hostBundle);
  FinderConversion::Receipt receipt;
  receipt.payloadVersion = addOn.infoString("CFBundleVersion").value_or("unknown");
  receipt.appBookmark = platform::makeBookmark(appPath);
  receipt.appBundleID = std::string(FinderConversion::bundleID);
  receipt.appPath = appPath;
  receipt.files = std::move(files);
  return receipt;
}

// putInPlace swaps the staged copy with the installed package in one step (the staging path
// then holds the old package), or renames it in when nothing is installed yet.
void putInPlace(const fs::path& staged, const fs::path& installed) {
  if (fs::exists(fs::symlink_status(installed))) {
    platform::exchangePaths(staged, installed);
  } else {
    fs::rename(staged, installed);
  }
}

void replacePackage(const Installation& installation, const platform::Bundle& addOn) {
  const fs::path root = FinderConversion::stateRoot();
  const fs::path servicesRoot = FinderConversion::servicesRoot();
  const fs::path installed = servicesRoot / FinderConversion::serviceName;
  const FinderConversion::Inventory files = FinderConversion::inventory(installation.package);

  // The Services folder is not reached through a link: one planted there would put the provider
  // the bus starts wherever it leads. Its parent, like the state root's, is the user's.
  platform::createDirectories(servicesRoot.parent_path(), 0700);
  platform::Directory::prepareBelow(servicesRoot.parent_path(), servicesRoot.filename(), 0700);
  Staging staging(servicesRoot);
  fs::copy(installation.package, staging.path(), fs::copy_options::recursive);
  if (FinderConversion::inventory(staging.path()) != files) {
    throw failure(std::string(kChangedWhileCopyingSentence));
  }
  const FinderConversion::Receipt receipt = receiptFor(addOn, installation.hostBundle, files);
  const fs::path executable = installed / fs::relative(*addOn.executablePath(), addOn.url());
  writeEntries(entryLocations(), executable, installation.client,
               hostExecutableOf(installation.hostBundle));

  // The receipt is written and flushed before the swap, so that only one rename follows it: a
  // kill between the swap and the receipt would leave them disagreeing ("needs repair") until
  // the next install, and that moment is now two system calls apart.
  platform::Directory::StagedEntry newReceipt =
      FinderConversion::stage(receipt, root / FinderConversion::names::kReceipt);
  const bool replacing = fs::exists(fs::symlink_status(installed));
  putInPlace(staging.path(), installed);
  try {
    newReceipt.commit();
  } catch (...) {
    // Put the old package back (or take the new one away) so package and receipt still agree.
    if (replacing) {
      platform::exchangePaths(staging.path(), installed);
    } else {
      fs::rename(installed, staging.path());
    }
    throw;
  }
}

// clearLeftovers removes what killed installers left: staged packages (or old packages not yet
// removed) in the Services folder, a temporary receipt and the entries' temporary files. Called
// under the lifecycle lock, which every installer holds for all of its writing, so whatever of
// these is there belongs to an installer that is gone. Only names an installer makes are
// touched; failures are dropped (they cost only space, and the next install tries again).
void clearLeftovers(const fs::path& servicesRoot, const fs::path& root) {
  const std::string staged = stagingPrefix();
  try {
    // Listed only when the Services folder is no link (the install then fails on it).
    if (auto services = platform::Directory::openIfPresent(servicesRoot)) {
      for (const platform::Directory::Entry& entry : services->entries()) {
        if (entry.name.starts_with(staged) &&
            platform::Uuid::parse(entry.name.substr(staged.size()))) {
          std::error_code ignored;
          fs::remove_all(servicesRoot / entry.name, ignored);  // a link goes, not its target
        }
      }
    }
  } catch (const std::exception&) {  // NOLINT(bugprone-empty-catch): best effort, see above
  }
  try {
    platform::removeStaleTemporaryFiles(root, std::chrono::seconds(0), [](std::string_view name) {
      return name == FinderConversion::names::kReceipt;
    });
  } catch (const std::exception&) {  // NOLINT(bugprone-empty-catch): best effort, see above
  }
  removeLeftovers(entryLocations());
}

// The roles run as <bundle>/Contents/Helpers/tonebrook-install.
fs::path thisHostBundle() {
  return fs::canonical("/proc/self/exe").parent_path().parent_path().parent_path();
}

int reportFailure(std::string_view description) {
  std::cerr << description << "\n" << std::flush;
  return 1;
}

}  // namespace

fs::path clientOfHost(const fs::path& hostBundle) {
  return helperOfHost(hostBundle, kClientName);
}

fs::path hostExecutableOf(const fs::path& hostBundle) {
  return hostBundle / FinderConversion::kHostExecutable;
}

fs::path installerOfHost(const fs::path& hostBundle) {
  return helperOfHost(hostBundle, kInstallerProgram);
}

fs::path addOnBesideHost(const fs::path& hostBundle) {
  return hostBundle.parent_path() / FinderConversion::serviceName;
}

void installAddOn(const Installation& installation) {
  const platform::Bundle addOn = openAddOn(installation.package);
  if (!fs::is_regular_file(installation.client)) throw failure(std::string(kClientMissingSentence));
  FinderProviderLifetime::retireIdle(FinderConversion::stateRoot());
  auto lock = FinderConversion::LifecycleLock::acquire(FinderConversion::stateRoot());
  clearLeftovers(FinderConversion::servicesRoot(), FinderConversion::stateRoot());
  replacePackage(installation, addOn);
}

int runInstallAddOn(const std::vector<std::string>& arguments) {
  if (arguments.size() > 1) return reportFailure("Usage: Tonebrook --install-addon [PACKAGE]");
  try {
    const fs::path host = thisHostBundle();
    const fs::path package = arguments.empty() ? addOnBesideHost(host) : fs::absolute(arguments[0]);
    if (arguments.empty() && !fs::exists(fs::symlink_status(package))) {
      return reportFailure(kNoAddOnBesideSentence);
    }
    installAddOn({.package = package, .hostBundle = host, .client = clientOfHost(host)});
    return 0;
  } catch (const platform::Error& error) {
    return reportFailure(error.description());
  } catch (const std::exception& error) {
    return reportFailure(std::string("The add-on could not be installed: ") + error.what());
  }
}

int runRetireProvider(const std::vector<std::string>& arguments) {
  if (!arguments.empty()) return reportFailure("Usage: Tonebrook --retire-provider");
  try {
    FinderProviderLifetime::retireIdle(FinderConversion::stateRoot());
    return 0;
  } catch (const platform::Error& error) {
    return reportFailure(error.description());
  }
}

}  // namespace host
