#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "exchange/record_files.h"
#include "host/request_outcome.h"

namespace host {

// FinderService is the converter role: it takes request files out of the queue of a state root,
// answers each within moments with an acknowledgement, converts the accepted ones in child
// processes it watches meanwhile and updates the acknowledgement as they finish. Several hosts
// may serve one queue: a request is taken by renaming it, which only one of them can do.
struct FinderServiceOptions {
  std::filesystem::path root;     // the state root to serve
  bool verification = false;      // leave "packaged-inbox.json" as the sign of arrival
  double idleSeconds = 2.0;       // leave once nothing has been waiting or converting this long
  double stallSeconds = 60.0;     // stop a conversion whose output has not grown this long
  OutcomeHandler onSettled = {};  // hears how each request ended (runFinderService: notifies)
};

// parseFinderServiceArguments reads "[--verify-finder-inbox STATE-ROOT]"; nullopt when the
// arguments are anything else.
std::optional<FinderServiceOptions> parseFinderServiceArguments(
    const std::vector<std::string>& arguments);

// serveQueue serves `options.root`: first it takes over the unfinished work of hosts that are
// gone (resumeAbandoned), then it answers and converts until it has been idle long enough.
// It leaves only after a last look at the queue made while it holds the lifecycle lock, so
// that no delivery can queue a request between that look and the end of this host; it never
// leaves while a delivery holds the lock. Returns that lock (nullopt when the lock file cannot
// be opened at all, so nobody can deliver either): the caller keeps it until the process ends.
std::optional<FinderConversion::LifecycleLock> serveQueue(
    const FinderServiceOptions& options, const std::vector<std::string>& arguments);

// kFinderServiceUsage: the usage line of the "--finder-service" role.
inline constexpr const char* kFinderServiceUsage =
    "usage: Tonebrook --finder-service [--verify-finder-inbox STATE-ROOT]\n";

// runFinderService: the "--finder-service" role; returns the exit status.
int runFinderService(const std::vector<std::string>& arguments);

}  // namespace host
