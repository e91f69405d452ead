#include "host/finder_service.h"

#include <chrono>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <system_error>
#include <thread>

#include "exchange/constants.h"
#include "exchange/record_files.h"
#include "host/request_handling.h"
#include "platform/files.h"

namespace host {
namespace {

namespace fs = std::filesystem;

bool isQueuedRequest(const fs::directory_entry& entry) {
  std::string name = entry.path().filename().string();
  std::error_code ignored;
  return !name.starts_with('.') && name.ends_with(".json") && entry.is_regular_file(ignored);
}

// takeNextRequest renames one queued request to a hidden name of this process; a rename that
// fails means another host took it first.
std::optional<TakenRequest> takeNextRequest(const fs::path& root) {
  std::error_code error;
  for (const fs::directory_entry& entry :
       fs::directory_iterator(FinderConversion::requests(root), error)) {
    if (!isQueuedRequest(entry)) continue;
    std::string name = entry.path().filename().string();
    fs::path taken = entry.path().parent_path() /
                     (".taken-" + std::to_string(platform::processId()) + "-" + name);
    std::error_code renameError;
    fs::rename(entry.path(), taken, renameError);
    if (!renameError) return TakenRequest{taken, name};
  }
  return std::nullopt;
}

void leaveArrivalSign(const fs::path& root, const std::vector<std::string>& arguments) {
  nlohmann::json sign = {{"pid", platform::processId()}, {"arguments", arguments}};
  FinderConversion::prepare(root);
  FinderConversion::writeDocument(sign.dump(), root / FinderConversion::names::packagedInbox);
}

}  // namespace

std::optional<FinderServiceOptions> parseFinderServiceArguments(
    const std::vector<std::string>& arguments) {
  FinderServiceOptions options;
  if (arguments.empty()) {
    options.root = FinderConversion::stateRoot();
    return options;
  }
  if (arguments.size() != 2 || arguments[0] != "--verify-finder-inbox" || arguments[1].empty()) {
    return std::nullopt;
  }
  options.root = fs::absolute(arguments[1]);
  options.verification = true;
  return options;
}

void serveQueue(const FinderServiceOptions& options, const std::vector<std::string>& arguments) {
  if (options.verification) leaveArrivalSign(options.root, arguments);
  using Clock = std::chrono::steady_clock;
  auto idleSince = Clock::now();
  const auto idleLimit = std::chrono::duration<double>(options.idleSeconds);
  while (Clock::now() - idleSince < idleLimit) {
    if (std::optional<TakenRequest> taken = takeNextRequest(options.root)) {
      handleRequest(options.root, *taken);
      idleSince = Clock::now();
    } else {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
  }
}

int runFinderService(const std::vector<std::string>& arguments) {
  std::optional<FinderServiceOptions> options = parseFinderServiceArguments(arguments);
  if (!options) {
    std::fputs("usage: Tonebrook --finder-service [--verify-finder-inbox STATE-ROOT]\n", stderr);
    return 2;
  }
  std::vector<std::string> all{"--finder-service"};
  all.insert(all.end(), arguments.begin(), arguments.end());
  serveQueue(*options, all);
  return 0;
}

}  // namespace host
