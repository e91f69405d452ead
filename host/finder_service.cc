#include "host/finder_service.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <deque>
#include <system_error>
#include <thread>

#include "exchange/constants.h"
#include "exchange/json_form.h"
#include "exchange/record_files.h"
#include "host/request_handling.h"
#include "platform/linux/directory_events.h"
#include "platform/core/files.h"

namespace host {
namespace {

namespace fs = std::filesystem;

bool isQueuedRequest(const fs::directory_entry& entry) {
  std::string name = entry.path().filename().string();
  std::error_code ignored;
  return !name.starts_with('.') && name.ends_with(".json") && entry.is_regular_file(ignored);
}

// queuedOldestFirst: the queued request files, oldest first, so requests are served in the
// order they were made.
std::vector<fs::path> queuedOldestFirst(const fs::path& root) {
  std::vector<std::pair<fs::file_time_type, fs::path>> queued;
  std::error_code error;
  for (const fs::directory_entry& entry :
       fs::directory_iterator(FinderConversion::requests(root), error)) {
    std::error_code timeError;
    fs::file_time_type time = entry.last_write_time(timeError);
    if (isQueuedRequest(entry) && !timeError) queued.emplace_back(time, entry.path());
  }
  std::sort(queued.begin(), queued.end());
  std::vector<fs::path> paths;
  for (auto& item : queued) paths.push_back(std::move(item.second));
  return paths;
}

// takeNextRequest renames the oldest queued request to a hidden name of this process; a rename
// that fails means another host took it first.
std::optional<TakenRequest> takeNextRequest(const fs::path& root) {
  for (const fs::path& request : queuedOldestFirst(root)) {
    std::string name = request.filename().string();
    fs::path taken =
        request.parent_path() / (".taken-" + std::to_string(platform::processId()) + "-" + name);
    std::error_code renameError;
    fs::rename(request, taken, renameError);
    if (!renameError) return TakenRequest{taken, name};
  }
  return std::nullopt;
}

void leaveArrivalSign(const fs::path& root, const std::vector<std::string>& arguments) {
  const FinderConversion::jsonForm::Json sign = {{"pid", platform::processId()},
                                                 {"arguments", arguments}};
  FinderConversion::prepare(root);
  FinderConversion::writeDocument(FinderConversion::jsonForm::dumpDocument(sign),
                                  root / FinderConversion::names::packagedInbox);
}

}  // namespace

std::optional<FinderServiceOptions> parseFinderServiceArguments(
    const std::vector<std::string>& arguments) {
  FinderServiceOptions options;
  if (arguments.empty()) {
    options.root = FinderConversion::stateRoot();
    return options;
  }
  if (arguments.size() != 2 || arguments[0] != FinderConversion::verifyFinderInboxOption || arguments[1].empty()) {
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
  std::deque<AcceptedRequest> converting;
  // Opened before the queue is read, so a request that lands after that read still wakes the
  // wait; the 50 ms check stays for when the kernel gives no watch or drops an event.
  std::optional<platform::DirectoryEvents> arrivals;
  while (!converting.empty() || Clock::now() - idleSince < idleLimit) {
    // Every waiting request is answered before the next file is converted, so no answer waits
    // behind a long conversion.
    if (!arrivals) {
      arrivals = platform::DirectoryEvents::open(FinderConversion::requests(options.root));
    }
    bool answered = false;
    while (std::optional<TakenRequest> taken = takeNextRequest(options.root)) {
      if (auto accepted = answerRequest(options.root, *taken)) {
        converting.push_back(*std::move(accepted));
      }
      answered = true;
    }
    if (!converting.empty()) {
      if (convertNext(converting.front())) converting.pop_front();
    } else if (!answered) {
      constexpr std::chrono::milliseconds idleCheck{50};
      if (arrivals) {
        arrivals->wait(idleCheck);
      } else {
        std::this_thread::sleep_for(idleCheck);
      }
      continue;
    }
    idleSince = Clock::now();
  }
}

int runFinderService(const std::vector<std::string>& arguments) {
  std::optional<FinderServiceOptions> options = parseFinderServiceArguments(arguments);
  if (!options) {
    std::fputs(finderServiceUsage, stderr);
    return 2;
  }
  std::vector<std::string> all{std::string(FinderConversion::finderServiceOption)};
  all.insert(all.end(), arguments.begin(), arguments.end());
  serveQueue(*options, all);
  return 0;
}

}  // namespace host
