#include "provider/provider.h"

#include <cerrno>
#include <exception>
#include <utility>

#include "exchange/constants.h"
#include "exchange/record_files.h"
#include "platform/core/files.h"
#include "provider/confirmation.h"
#include "provider/host_launch.h"
#include "provider/installation_checks.h"
#include "provider/selection.h"
#include "provider/verification_pause.h"

namespace {

// executableOf: argument 0 as an absolute path (relative to the current directory), with "."
// and ".." components removed lexically.
std::filesystem::path executableOf(platform::Desktop& desktop) {
  std::vector<std::string> arguments = desktop.arguments();
  if (arguments.empty() || arguments.front().empty()) {
    throw platform::Error(std::string(platform::kPosixDomain), ENOENT,
                          "The provider was started without a program path.");
  }
  return std::filesystem::absolute(arguments.front()).lexically_normal();
}

// BusyScope keeps `busy` set for one delivery and clears it on every way out.
class BusyScope {
 public:
  explicit BusyScope(bool& busy) : busy_(busy) { busy_ = true; }
  BusyScope(const BusyScope&) = delete;
  BusyScope& operator=(const BusyScope&) = delete;
  ~BusyScope() { busy_ = false; }

 private:
  bool& busy_;
};

// removeStaleTemporaryFiles: what a killed writer of the provider's own files left behind (the
// heartbeat and error records in the root, requests in the queue). Best effort.
void removeStaleTemporaryFiles(const std::filesystem::path& root) {
  namespace names = FinderConversion::names;
  try {
    platform::removeStaleTemporaryFiles(root, kStaleTemporaryAge, [](std::string_view target) {
      return target == names::kProviderState || target == names::kProviderError;
    });
    if (auto queue = FinderConversion::existingStateDirectory(root, names::kRequests)) {
      queue->removeStaleTemporaryFiles(
          kStaleTemporaryAge, [](std::string_view target) { return target.ends_with(".json"); });
    }
  } catch (const std::exception&) {
    // Stale files cost only space; they are tried again at the next start.
  }
}

}  // namespace

struct Provider::Creation {
  std::filesystem::path root;
  bool verification = false;
  std::filesystem::path executable;
  std::string payloadVersion;
};

std::shared_ptr<Provider> Provider::create(platform::Desktop& desktop, std::filesystem::path root,
                                           bool verification) {
  Creation creation{std::move(root), verification, executableOf(desktop),
                    desktop.mainBundleInfoString("CFBundleVersion").value_or("unknown")};
  // The constructor is private, so make_shared cannot reach it.
  std::shared_ptr<Provider> provider(new Provider(desktop, creation));
  // Asked once the lifetime has taken the executable's identity: a file replaced before that
  // (a package swapped in while this process was starting) looks unchanged to every later
  // check, while this process runs the old program from a package that is gone. It serves
  // nobody and ends at its first idle tick, as a retiring provider does.
  if (!desktop.runsExecutable(creation.executable)) provider->endWhenIdle();
  removeStaleTemporaryFiles(provider->root_);
  provider->startRetirementTimer();
  return provider;
}

Provider::Provider(platform::Desktop& desktop, const Creation& creation)
    : desktop_(desktop),
      root_(creation.root),
      verification_(creation.verification),
      lifetime_(creation.root, creation.executable, creation.payloadVersion) {}

Provider::~Provider() {
  if (retirement_) retirement_->invalidate();
}

void Provider::startRetirementTimer() {
  std::weak_ptr<Provider> weak = weak_from_this();
  retirement_ = desktop_.scheduleRepeatingTimer(kRetirementInterval, [weak] {
    if (std::shared_ptr<Provider> provider = weak.lock()) provider->tick();
  });
}

void Provider::tick() {
  try {
    lifetime_.heartbeat();
  } catch (const std::exception&) {
    // A missed heartbeat is rewritten on the next tick.
  }
  if (busy_ || launchInFlight_.load()) return;
  if (!ending_ && !lifetime_.shouldRetire()) return;
  if (retire_) {
    retire_();
  } else {
    desktop_.terminate();
  }
}

void Provider::convert(platform::Pasteboard& pasteboard, const std::optional<std::string>& userData,
                       std::optional<std::string>& error) {
  std::string failure;
  std::optional<platform::Uuid> requestID;  // known once the request is made
  try {
    refuseUnlessIdle();
    BusyScope scope(busy_);
    // Held for the whole delivery, released on every way out.
    auto lock = FinderConversion::LifecycleLock::acquire(root_);
    // The lock is what keeps an installer from swapping the package during the delivery; one
    // may have done so between the look above (a digest takes a while) and the lock. This
    // process would then deliver from a package that is gone.
    if (lifetime_.executableReplaced()) {
      throw FinderConversion::failure(std::string(kFinishingUpdateSentence));
    }
    deliver(pasteboard, userData.value_or(""), requestID);
    return;
  } catch (const platform::Error& raised) {
    failure = raised.description();
  } catch (const std::exception& raised) {
    failure = raised.what();  // nothing may escape into the Services machinery
  }
  report(failure, requestID, error);
}

void Provider::refuseUnlessIdle() const {
  if (busy_ || ending_ || lifetime_.shouldRetire()) {
    throw FinderConversion::failure(std::string(kFinishingUpdateSentence));
  }
}

void Provider::report(const std::string& description,
                      const std::optional<platform::Uuid>& requestID,
                      std::optional<std::string>& error) const {
  error = description;
  if (logFailures_) {
    desktop_.log().write(platform::LogPriority::error, "Conversion not delivered: " + description,
                         requestID);
  }
  if (!verification_) return;
  try {
    FinderConversion::write(std::string_view(description),
                            root_ / FinderConversion::names::kProviderError);
  } catch (const std::exception&) {
    // The error slot already holds the sentence; the file is a courtesy to the harness.
  }
}

void Provider::deliver(platform::Pasteboard& pasteboard, const std::string& userData,
                       std::optional<platform::Uuid>& requestID) {
  provider::Installation installation = provider::checkInstallation(desktop_, root_);
  std::vector<platform::Url> selection = provider::readSelection(pasteboard);
  FinderConversion::Request request =
      provider::makeRequest(desktop_, std::move(selection), userData);
  requestID = request.id;
  FinderConversion::enqueue(request, root_);

  if (verification_) provider::pauseForVerification(desktop_);
  if (!provider::isBoundCopyRunning(desktop_, installation.receipt.appBundleID,
                                    installation.boundApplication)) {
    // The handler holds the provider through this pointer until it has run.
    std::shared_ptr<std::atomic<bool>> flag(shared_from_this(), &launchInFlight_);
    provider::launchBoundCopy(desktop_, std::move(flag),
                              provider::launchConfiguration(verification_, root_),
                              provider::Launch{installation.boundApplication, request.id, root_});
  }
  provider::awaitAcknowledgement(desktop_, root_, request.id);
}
