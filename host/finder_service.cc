#include "host/finder_service.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <deque>
#include <map>
#include <system_error>
#include <thread>

#include "exchange/constants.h"
#include "exchange/json_form.h"
#include "exchange/record_files.h"
#include "host/log.h"
#include "host/notifier.h"
#include "host/request_handling.h"
#include "platform/core/files.h"
#include "platform/core/unicode.h"
#include "platform/linux/directory_events.h"

namespace host {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// How long one pass waits for new work: short enough that an answer never waits long, and that
// running conversions are watched closely.
constexpr std::chrono::milliseconds kPassWait{50};
// A request whose answer could not be written is tried again after this.
constexpr std::chrono::seconds kAnswerRetry{1};
// A hidden temporary file this old belongs to a writer that was killed: no write takes this long.
constexpr std::chrono::seconds kStaleTemporaryAge{60};

// removeStaleTemporaryFiles: what a killed host left half written (acknowledgements and the
// arrival sign). Best effort: they cost only space, and the next host tries again.
void removeStaleTemporaryFiles(const fs::path& root) {
  namespace names = FinderConversion::names;
  try {
    platform::removeStaleTemporaryFiles(root, kStaleTemporaryAge, [](std::string_view target) {
      return target == names::kPackagedInbox;
    });
    if (auto answers = FinderConversion::existingStateDirectory(root, names::kAcknowledgements)) {
      answers->removeStaleTemporaryFiles(
          kStaleTemporaryAge, [](std::string_view target) { return target.ends_with(".json"); });
    }
  } catch (const std::exception& error) {
    logEvent(std::string("stale temporary files not removed: ") + error.what());
  }
}

bool isQueuedRequest(const platform::Directory::Entry& entry) {
  return !entry.name.starts_with('.') && entry.name.ends_with(".json") &&
         entry.kind == platform::ItemKind::regularFile;
}

// queuedOldestFirst: the names of the queued request files, oldest first, so requests are
// served in the order they were made.
std::vector<std::string> queuedOldestFirst(const platform::Directory& queue) {
  std::vector<std::pair<fs::file_time_type, std::string>> queued;
  for (const platform::Directory::Entry& entry : queue.entries()) {
    if (isQueuedRequest(entry)) queued.emplace_back(entry.modified, entry.name);
  }
  std::sort(queued.begin(), queued.end());
  std::vector<std::string> names;
  names.reserve(queued.size());
  for (auto& item : queued) names.push_back(std::move(item.second));
  return names;
}

// take renames a queued request to this process's hidden name, holding a lock on it for as
// long as this host owns it (taken before the rename, so no other host ever sees the taken file
// unlocked). A rename that fails means another host took it first. A file that cannot be
// opened for the lock is taken without one: it cannot be read either, and is refused at once.
std::optional<TakenRequest> take(platform::Directory& queue, const std::string& name) {
  std::optional<platform::LockFile> lock = queue.lockExisting(name);
  if (lock && !lock->tryLockExclusive()) return std::nullopt;  // another host is taking it
  const std::string taken = takenName(name);
  try {
    if (!queue.renameWithoutReplacing(name, taken)) return std::nullopt;
  } catch (const platform::Error&) {
    return std::nullopt;
  }
  return TakenRequest{queue.path() / taken, name, std::move(lock)};
}

void leaveArrivalSign(const fs::path& root, const std::vector<std::string>& arguments) {
  const FinderConversion::json_form::Json sign = {{"pid", platform::processId()},
                                                  {"arguments", arguments}};
  FinderConversion::prepare(root);
  FinderConversion::writeDocument(FinderConversion::json_form::dumpDocument(sign),
                                  root / FinderConversion::names::kPackagedInbox);
}

class QueueServer {
 public:
  explicit QueueServer(const FinderServiceOptions& options)
      : root_(options.root),
        idleLimit_(options.idleSeconds),
        stallLimit_(options.stallSeconds),
        onSettled_(options.onSettled) {}

  std::optional<FinderConversion::LifecycleLock> run() {
    removeStaleTemporaryFiles(root_);
    try {
      for (AcceptedRequest& resumed : resumeAbandoned(root_, onSettled_)) {
        converting_.push_back(std::move(resumed));
      }
    } catch (const std::exception& error) {
      logEvent(std::string("unfinished work of earlier hosts not taken over: ") + error.what());
    }
    // Watched before the queue is first read, so a request that lands after that read still
    // wakes the wait.
    arrivals_ = platform::DirectoryEvents::open(FinderConversion::requests(root_));
    auto idleSince = Clock::now();
    for (;;) {
      const bool answered = answerWaiting(false);
      const bool converting = advanceConversions();
      if (answered || converting) {
        idleSince = Clock::now();
      } else if (Clock::now() - idleSince >= idleLimit_) {
        if (std::optional<Exit> exit = closeWindow()) return std::move(exit->lock);
        idleSince = Clock::now();
      }
      waitForWork(kPassWait);
    }
  }

 private:
  struct Exit {
    std::optional<FinderConversion::LifecycleLock> lock;
  };

  // waitForWork is the one place where the host waits for something to do: a request landing
  // in the queue wakes it at once (inotify, where the kernel gives a watch; tried again until
  // the queue directory exists), and it looks again at most `limit` later in any case, which is
  // also when it checks its running conversions.
  void waitForWork(std::chrono::milliseconds limit) {
    if (!arrivals_) arrivals_ = platform::DirectoryEvents::open(FinderConversion::requests(root_));
    if (arrivals_) {
      arrivals_->wait(limit);
    } else {
      std::this_thread::sleep_for(limit);
    }
  }

  // answerWaiting takes and answers every waiting request; true when it answered one. A request
  // whose answer could not be written goes back to the queue, and this host tries it again
  // only after a while; in the last look (`lastLook`) not at all, since it cannot answer it.
  bool answerWaiting(bool lastLook) {
    std::optional<platform::Directory> queue = openQueue();
    if (!queue) return false;
    bool answered = false;
    for (const std::string& name : queuedOldestFirst(*queue)) {
      if (auto retry = retryAfter_.find(name); retry != retryAfter_.end()) {
        if (lastLook || Clock::now() < retry->second) continue;
      }
      std::optional<TakenRequest> taken = take(*queue, name);
      if (!taken) continue;
      try {
        if (auto accepted = answerRequest(root_, *std::move(taken))) {
          converting_.push_back(*std::move(accepted));
        }
        retryAfter_.erase(name);
        answered = true;
      } catch (const std::exception& error) {
        logEvent("request " + platform::validUtf8(fs::path(name).stem().string()) +
                 ": not answered, left in the queue: " + error.what());
        retryAfter_[name] = Clock::now() + kAnswerRetry;
      }
    }
    return answered;
  }

  // openQueue: the queue directory, never through a link in its place; nullopt while there is
  // none. A queue that cannot be opened is logged once, not on every pass.
  std::optional<platform::Directory> openQueue() {
    try {
      std::optional<platform::Directory> queue =
          FinderConversion::existingStateDirectory(root_, FinderConversion::names::kRequests);
      queueFault_.clear();
      return queue;
    } catch (const std::exception& error) {
      if (queueFault_ != error.what()) logEvent(std::string("queue not served: ") + error.what());
      queueFault_ = error.what();
      return std::nullopt;
    }
  }

  // advanceConversions moves the oldest accepted request on, so that requests are converted
  // one at a time in the order they came; true while any is unfinished.
  bool advanceConversions() {
    while (!converting_.empty()) {
      AcceptedRequest& request = converting_.front();
      bool finished = true;
      try {
        finished = advance(request, stallLimit_, onSettled_);
      } catch (const std::exception& error) {
        // Its taken file stays: the next host takes the request over.
        logEvent("request " + request.acknowledgement.id.text() + ": " + error.what());
      }
      if (!finished) return true;
      converting_.pop_front();
    }
    return false;
  }

  // closeWindow: the lifecycle lock and a last look at the queue. Leaving (an Exit) only when
  // the lock is free and nothing waits; a delivery holding the lock keeps this host serving.
  std::optional<Exit> closeWindow() {
    Exit exit;
    try {
      exit.lock.emplace(FinderConversion::LifecycleLock::acquire(root_));
    } catch (const platform::Error& error) {
      if (error.description() == FinderConversion::kLockHeldSentence) return std::nullopt;
      // No lock can be had at all, so no delivery can queue anything: the look alone will do.
    }
    if (answerWaiting(true)) return std::nullopt;
    return exit;
  }

  fs::path root_;
  std::chrono::duration<double> idleLimit_;
  std::chrono::duration<double> stallLimit_;
  OutcomeHandler onSettled_;
  std::deque<AcceptedRequest> converting_;
  std::map<std::string, Clock::time_point> retryAfter_;
  std::optional<platform::DirectoryEvents> arrivals_;
  std::string queueFault_;  // the last reason the queue could not be opened, logged once
};

}  // namespace

std::optional<FinderServiceOptions> parseFinderServiceArguments(
    const std::vector<std::string>& arguments) {
  FinderServiceOptions options;
  if (arguments.empty()) {
    options.root = FinderConversion::stateRoot();
    return options;
  }
  if (arguments.size() != 2 || arguments[0] != FinderConversion::kVerifyFinderInboxOption ||
      arguments[1].empty()) {
    return std::nullopt;
  }
  options.root = fs::absolute(arguments[1]);
  options.verification = true;
  return options;
}

std::optional<FinderConversion::LifecycleLock> serveQueue(
    const FinderServiceOptions& options, const std::vector<std::string>& arguments) {
  if (options.verification) leaveArrivalSign(options.root, arguments);
  return QueueServer(options).run();
}

int runFinderService(const std::vector<std::string>& arguments) {
  std::optional<FinderServiceOptions> options = parseFinderServiceArguments(arguments);
  if (!options) {
    std::fputs(kFinderServiceUsage, stderr);
    return 2;
  }
  // Each request that ends is told on the desktop by the bundle's notifier.
  options->onSettled = notifyingHandler(notifierOfThisHost());
  std::vector<std::string> all{std::string(FinderConversion::kFinderServiceOption)};
  all.insert(all.end(), arguments.begin(), arguments.end());
  // Held until the process is gone: a delivery that gets the lock then finds no host running
  // and launches one.
  if (std::optional<FinderConversion::LifecycleLock> lock = serveQueue(*options, all)) {
    lock->keepUntilExit();
  }
  return 0;
}

}  // namespace host
