// Creation, heartbeat and end of life of the provider lifetime.
#include "lifetime/finder_provider_lifetime.h"

#include <utility>

#include "exchange/constants.h"
#include "exchange/inventory.h"
#include "exchange/record_files.h"

FinderProviderLifetime::FinderProviderLifetime(std::filesystem::path root,
                                               std::filesystem::path executable,
                                               std::string payloadVersion)
    : root_(std::move(root)),
      executable_(std::move(executable)),
      instance_(platform::Uuid::random()),
      payloadVersion_(std::move(payloadVersion)) {
  // The identity is taken before the digest so that a missing executable is reported as
  // unavailable while one that exists but cannot be read still gives its read error.
  auto identity = platform::identity(executable_);
  if (!identity) throw FinderConversion::failure(std::string(kExecutableUnavailableSentence));
  executableIdentity_ = *identity;
  executableHash_ = FinderConversion::hash(executable_);
  FinderConversion::prepare(root_);
  takeProviderLock();
  try {
    heartbeat();
  } catch (...) {
    // Nobody may see a lock holder without a heartbeat: give the lock back at once.
    lock_->unlock();
    lock_.reset();
    throw;
  }
}

FinderProviderLifetime::~FinderProviderLifetime() {
  if (lock_) {
    lock_->unlock();
    lock_->close();
  }
}

void FinderProviderLifetime::takeProviderLock() {
  auto file = platform::LockFile::open(root_ / FinderConversion::names::kProviderLock);
  if (!file || !file->tryLockExclusive()) {
    throw FinderConversion::failure(std::string(kProviderRunningSentence));
  }
  lock_ = std::move(file);
}

void FinderProviderLifetime::heartbeat() {
  State state;
  state.version = kStateVersion;
  state.instance = instance_;
  state.pid = platform::processId();
  state.executableHash = executableHash_;
  state.payloadVersion = payloadVersion_;
  state.updated = platform::secondsSinceReferenceDate();
  // Rewritten five times a second for the life of the process and worthless after a crash:
  // replaced atomically, but never flushed to the disk.
  FinderConversion::writeDocument(FinderConversion::encode(state),
                                  root_ / FinderConversion::names::kProviderState,
                                  platform::Durability::unflushed);
}
