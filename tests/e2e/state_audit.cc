#include "tests/e2e/state_audit.h"

#include <chrono>
#include <fstream>
#include <functional>
#include <nlohmann/json.hpp>
#include <optional>
#include <sstream>
#include <thread>

#include "exchange/constants.h"
#include "exchange/record_files.h"
#include "lifetime/finder_provider_lifetime.h"
#include "platform/core/error.h"
#include "platform/core/files.h"

namespace e2e {
namespace {

namespace names = FinderConversion::names;

constexpr std::string_view kTakenPrefix = ".taken-";

// decoderFor: how the ".json" file at `relative` (to the state root) must decode; nullptr for a
// place where no record belongs.
std::function<void(const fs::path&)> decoderFor(const fs::path& relative) {
  using namespace FinderConversion;
  const std::string folder = relative.parent_path().string();
  const std::string name = relative.filename().string();
  if (folder.empty()) {
    if (name == names::kReceipt) return [](const fs::path& p) { read<Receipt>(p); };
    if (name == names::kProviderState) {
      return [](const fs::path& p) { read<FinderProviderLifetime::State>(p); };
    }
    if (name == names::kProviderRetire) return [](const fs::path& p) { read<Uuid>(p); };
    if (name == names::kProviderError) return [](const fs::path& p) { read<std::string>(p); };
    if (name == names::kPackagedInbox) {
      return [](const fs::path& p) { nlohmann::json::parse(readDocument(p)).type(); };
    }
    return nullptr;
  }
  if (folder == names::kRequests || folder == names::kRejected) {
    return [](const fs::path& p) { read<Request>(p); };
  }
  if (folder == names::kAcknowledgements) {
    return [](const fs::path& p) { read<Acknowledgement>(p); };
  }
  return nullptr;
}

// problemOf: what is wrong with the record file at `path`, nullopt when it decodes (or has
// gone meanwhile: a file replaced or taken while it was looked at is no fault).
std::optional<std::string> problemOf(const fs::path& root, const fs::path& path) {
  const fs::path relative = path.lexically_relative(root);
  const auto decode = decoderFor(relative);
  if (!decode) return relative.string() + ": no record belongs here";
  try {
    decode(path);
    return std::nullopt;
  } catch (const platform::Error& error) {
    std::error_code gone;
    if (!fs::exists(fs::symlink_status(path, gone))) return std::nullopt;
    return relative.string() + ": " + error.description();
  } catch (const std::exception& error) {
    return relative.string() + ": " + error.what();
  }
}

std::optional<std::string> idOfQueueName(std::string_view name) {
  if (!name.ends_with(".json")) return std::nullopt;
  name.remove_suffix(5);
  if (!platform::Uuid::parse(std::string(name))) return std::nullopt;
  return std::string(name);
}

// tracedIds: identifiers present in `folder` under their own name, or taken by a host.
std::set<std::string> tracedIds(const fs::path& folder) {
  std::set<std::string> found;
  std::error_code error;
  for (const auto& entry : fs::directory_iterator(folder, error)) {
    std::string name = entry.path().filename().string();
    if (name.starts_with(kTakenPrefix)) {
      const std::size_t dash = name.find('-', kTakenPrefix.size());
      if (dash == std::string::npos) continue;
      name = name.substr(dash + 1);
    }
    if (auto id = idOfQueueName(name)) found.insert(*id);
  }
  return found;
}

// preparedQueue prepares both queue folders as a delivery does, so that the queue can be
// watched before the first request; the path of "requests".
fs::path preparedQueue(const fs::path& root) {
  FinderConversion::stateDirectory(root, names::kAcknowledgements);
  return FinderConversion::stateDirectory(root, names::kRequests).path();
}

}  // namespace

std::vector<std::string> recordProblems(const fs::path& root) {
  std::vector<std::string> problems;
  std::error_code error;
  fs::recursive_directory_iterator walk(root, error);
  for (; !error && walk != fs::recursive_directory_iterator(); walk.increment(error)) {
    const fs::path& path = walk->path();
    if (!path.filename().string().ends_with(".json")) continue;
    if (auto problem = problemOf(root, path)) problems.push_back(*problem);
  }
  if (error && error != std::errc::no_such_file_or_directory) {
    problems.push_back(root.string() + ": not walked: " + error.message());
  }
  return problems;
}

bool lockFree(const fs::path& root, std::string_view name) {
  if (!fs::exists(root / name)) return true;
  std::optional<platform::LockFile> lock = platform::LockFile::openExisting(root / name);
  return lock && lock->tryLockExclusive();
}

RequestLedger::RequestLedger(const fs::path& root) : root_(root), watch_(preparedQueue(root)) {}

void RequestLedger::update() {
  for (const std::string& name : watch_.collect()) {
    if (auto id = idOfQueueName(name)) ids_.insert(*id);
  }
}

std::vector<std::string> RequestLedger::untraced() const {
  std::set<std::string> traced = tracedIds(root_ / names::kAcknowledgements);
  traced.merge(tracedIds(root_ / names::kRequests));
  traced.merge(tracedIds(root_ / names::kRejected));
  std::vector<std::string> missing;
  for (const std::string& id : ids_) {
    if (!traced.contains(id)) missing.push_back(id);
  }
  return missing;
}

std::vector<std::string> RequestLedger::lost() {
  update();
  std::vector<std::string> missing = untraced();
  for (int look = 0; look < 5 && !missing.empty(); ++look) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    missing = untraced();
  }
  return missing;
}

std::map<std::string, AcknowledgementSummary> acknowledgements(const fs::path& root) {
  std::map<std::string, AcknowledgementSummary> found;
  std::error_code error;
  for (const auto& entry : fs::directory_iterator(root / names::kAcknowledgements, error)) {
    const std::string name = entry.path().filename().string();
    if (!idOfQueueName(name)) continue;
    auto ack = FinderConversion::tryRead<FinderConversion::Acknowledgement>(entry.path());
    if (!ack) continue;
    AcknowledgementSummary summary;
    summary.accepted = ack->accepted;
    summary.terminal = ack->terminal;
    summary.message = ack->message;
    summary.jobs = ack->jobs.size();
    for (const auto& [job, state] : ack->states) summary.done += state == "done" ? 1U : 0U;
    for (const platform::Url& output : ack->outputs) {
      if (auto path = output.filePath()) summary.outputs.push_back(*path);
    }
    found[*idOfQueueName(name)] = std::move(summary);
  }
  return found;
}

bool settled(const fs::path& root) {
  std::error_code error;
  for (const auto& entry : fs::directory_iterator(root / names::kRequests, error)) {
    const std::string name = entry.path().filename().string();
    if (idOfQueueName(name) || name.starts_with(kTakenPrefix)) return false;
  }
  for (const auto& [id, ack] : acknowledgements(root)) {
    if (ack.accepted && !ack.terminal) return false;
  }
  return true;
}

std::vector<std::string> outputProblems(const fs::path& directory,
                                        const std::set<std::string>& inputs,
                                        const std::set<std::string>& converted,
                                        std::string_view extension, const std::string& reference,
                                        bool finished) {
  const std::string suffix = "." + std::string(extension);
  std::vector<std::string> problems;
  std::set<std::string> found;
  std::error_code error;
  for (const auto& entry : fs::directory_iterator(directory, error)) {
    const std::string name = entry.path().filename().string();
    if (name.starts_with(".tonebrook-")) {
      if (finished) problems.push_back(name + ": a partial output is left");
      continue;
    }
    if (name.starts_with('.') || !name.ends_with(suffix)) continue;
    const std::string stem = name.substr(0, name.size() - suffix.size());
    if (!inputs.contains(stem)) {
      problems.push_back(name + ": a second output of one input, or of no input");
      continue;
    }
    found.insert(stem);
    if (readBytes(entry.path()) != reference) {
      problems.push_back(name + ": under its final name, but not the whole conversion");
    }
  }
  if (finished) {
    for (const std::string& stem : converted) {
      if (!found.contains(stem)) problems.push_back(stem + ".wav: never converted");
    }
  }
  return problems;
}

std::string readBytes(const fs::path& path) {
  std::ifstream stream(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << stream.rdbuf();
  return bytes.str();
}

}  // namespace e2e
