// Both halves of the retirement handshake: the provider's shouldRetire and the installer's
// retireIdle. They meet only in "provider.lock", "provider-state.json" and
// "provider-retire.json"; no process id is examined and no signal is sent.
#include <chrono>
#include <string>
#include <thread>

#include "exchange/constants.h"
#include "exchange/inventory.h"
#include "exchange/record_files.h"
#include "lifetime/finder_provider_lifetime.h"

namespace {

using Clock = std::chrono::steady_clock;

// Takes and at once gives back the provider lock: true when no provider holds it.
bool probeFree(platform::LockFile& file) {
  if (!file.tryLockExclusive()) return false;
  file.unlock();
  return true;
}

void requireFreshState(const FinderProviderLifetime::State& state) {
  double age = platform::secondsSinceReferenceDate() - state.updated;
  bool fresh = age < FinderProviderLifetime::kFreshnessLimitSeconds;  // future counts as fresh
  if (state.version != FinderProviderLifetime::kStateVersion || !fresh) {
    throw FinderConversion::failure(std::string(FinderProviderLifetime::kProviderSilentSentence));
  }
}

// couldBeOneString: the document, JSON white space aside, starts and ends with a quotation
// mark. Anything else cannot be a retirement request, and is read five times a second: it is
// refused before it costs a parse.
bool couldBeOneString(std::string_view document) {
  constexpr std::string_view kWhiteSpace = " \t\n\r";
  const std::size_t first = document.find_first_not_of(kWhiteSpace);
  const std::size_t last = document.find_last_not_of(kWhiteSpace);
  return first != std::string_view::npos && last > first && document[first] == '"' &&
         document[last] == '"';
}

}  // namespace

bool FinderProviderLifetime::shouldRetire() const {
  return executableChanged() || retirementRequested();
}

bool FinderProviderLifetime::executableReplaced() const {
  const std::optional<platform::FileIdentity> identity = platform::identity(executable_);
  return !identity || *identity != executableIdentity_;
}

bool FinderProviderLifetime::executableChanged() const {
  if (executableReplaced()) return true;
  try {
    return FinderConversion::hash(executable_) != executableHash_;
  } catch (...) {
    return true;  // an executable that can no longer be read is gone for our purposes
  }
}

std::optional<platform::Uuid> FinderProviderLifetime::retirementTarget(
    std::string_view document) noexcept {
  try {
    if (!couldBeOneString(document)) return std::nullopt;
    return FinderConversion::decode<platform::Uuid>(document);
  } catch (...) {
    return std::nullopt;  // not one JSON string holding a UUID: no request
  }
}

bool FinderProviderLifetime::retirementRequested() const {
  // Missing, a link, too large, unreadable, not one JSON string or undecodable: no request.
  try {
    const std::string document =
        FinderConversion::readDocument(root_ / FinderConversion::names::kProviderRetire);
    return retirementTarget(document) == instance_;
  } catch (...) {
    return false;
  }
}

void FinderProviderLifetime::retireIdle(const std::filesystem::path& root) {
  FinderConversion::prepare(root);
  // The descriptor closes on every way out with `file`.
  auto file = platform::LockFile::open(root / FinderConversion::names::kProviderLock);
  if (!file) throw FinderConversion::failure(std::string(kProviderLockUnopenableSentence));
  if (probeFree(*file)) return;

  auto state = FinderConversion::read<State>(root / FinderConversion::names::kProviderState);
  requireFreshState(state);
  FinderConversion::write(state.instance.text(), root / FinderConversion::names::kProviderRetire);

  // The wait is measured on the monotonic clock so that a wall-clock step cannot shorten it
  // or stretch it.
  auto deadline = Clock::now() + kRetireWait;
  while (true) {
    if (probeFree(*file)) return;
    std::this_thread::sleep_for(kProbeInterval);
    if (Clock::now() >= deadline) break;
  }
  throw FinderConversion::failure(std::string(kProviderStillRetiringSentence));
}
