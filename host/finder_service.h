#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace host {

// FinderService is the converter role: it takes request files out of the queue of a state root,
// answers each within moments with an acknowledgement, converts the accepted ones and updates
// the acknowledgement as they finish. Several hosts may serve one queue: a request is taken by
// renaming it, which only one of them can do.
struct FinderServiceOptions {
  std::filesystem::path root;  // the state root to serve
  bool verification = false;   // leave "packaged-inbox.json" as the sign of arrival
  double idleSeconds = 2.0;    // exit once the queue has stayed empty this long
};

// parseFinderServiceArguments reads "[--verify-finder-inbox STATE-ROOT]"; nullopt when the
// arguments are anything else.
std::optional<FinderServiceOptions> parseFinderServiceArguments(
    const std::vector<std::string>& arguments);

// serveQueue serves `options.root` until the queue has been idle long enough.
void serveQueue(const FinderServiceOptions& options, const std::vector<std::string>& arguments);

// finderServiceUsage: the usage line of the "--finder-service" role.
inline constexpr const char* finderServiceUsage =
    "usage: Tonebrook --finder-service [--verify-finder-inbox STATE-ROOT]\n";

// runFinderService: the "--finder-service" role; returns the exit status.
int runFinderService(const std::vector<std::string>& arguments);

}  // namespace host
