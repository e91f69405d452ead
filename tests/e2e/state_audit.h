#pragma once

#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "platform/testing/name_watch.h"

// The promises a state root keeps whoever was killed or raced, as checks that soak and race
// tests run after each event. Each check answers what is wrong as readable lines (empty: all
// holds), so that one failure lists every fault at once.
namespace e2e {

namespace fs = std::filesystem;

// recordProblems: every file whose name ends in ".json" in the state root and its folders
// decodes as the record its place says: the receipt, the heartbeat (State), the retirement
// request (an identifier), provider-error (a string), the arrival sign (JSON), requests queued,
// taken or rejected (Request) and acknowledgements (Acknowledgement). Anything else that ends in
// ".json" is a problem too, so a hidden temporary file that could be taken for a record is one.
std::vector<std::string> recordProblems(const fs::path& root);

// lockFree: nobody holds the flock on `name` in `root` (taken and given back at once); a lock
// file that does not exist yet is free.
bool lockFree(const fs::path& root, std::string_view name);

// RequestLedger remembers every request identifier that ever appears in "requests" (through an
// NameWatch, so one that is queued and taken between two looks is still seen) and tells which
// of them are neither acknowledged, queued (under their own name or taken by a host) nor
// rejected: lost.
class RequestLedger {
 public:
  // Prepares "requests" as the provider does and watches it.
  explicit RequestLedger(const fs::path& root);

  // update collects the identifiers that appeared since the last call.
  void update();
  const std::set<std::string>& ids() const noexcept { return ids_; }
  // lost: the identifiers with no trace left, looked for again a few times over half a second
  // (a host renaming a request meanwhile may hide it from one listing).
  std::vector<std::string> lost();

 private:
  std::vector<std::string> untraced() const;

  fs::path root_;
  platform::testing::NameWatch watch_;
  std::set<std::string> ids_;
};

// Acknowledgements: every acknowledgement in the state root that decodes, by identifier text.
struct AcknowledgementSummary {
  bool accepted = false;
  bool terminal = false;
  std::string message;
  std::size_t jobs = 0;
  std::size_t done = 0;
  std::vector<fs::path> outputs;
};
std::map<std::string, AcknowledgementSummary> acknowledgements(const fs::path& root);

// settled: every request has been answered and every accepted one finished (its
// acknowledgement terminal), and nothing is queued or taken any more.
bool settled(const fs::path& root);

// outputProblems compares what the host wrote beside the inputs in `directory` with what each
// input must give. Every output "<stem>.<extension>" belongs to an input "<stem>.wav" named in
// `inputs` and its bytes equal `reference` (a conversion of the same audio made by the test);
// a second output of one input ("<stem> 2.<extension>"...) is a problem. When `finished`, each
// input of `converted` (those whose request was queued) has its output and no hidden partial
// output (".tonebrook-...") is left.
std::vector<std::string> outputProblems(const fs::path& directory,
                                        const std::set<std::string>& inputs,
                                        const std::set<std::string>& converted,
                                        std::string_view extension, const std::string& reference,
                                        bool finished);

// readBytes: the whole file, or empty when it cannot be read.
std::string readBytes(const fs::path& path);

}  // namespace e2e
