#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "exchange/records.h"
#include "platform/desktop/desktop.h"
#include "support/temp_directory.h"

namespace provider_test {

// Sandbox is a complete installation in a fresh temporary directory: a state root with a
// receipt, the installed add-on package, the bound host bundle and a provider executable kept
// apart from the package (so a test may break the package without retiring the provider), all
// real files. Everything is removed when it goes.
class Sandbox {
 public:
  // Where the state root lies: "state" in the sandbox, or where the default state root lies
  // when the sandbox is the home directory.
  enum class RootPlace { own, belowHome };
  // hostExecutableSource: copied to the host's Contents/MacOS/Tonebrook (default: a script).
  explicit Sandbox(const std::filesystem::path& hostExecutableSource = {},
                   RootPlace rootPlace = RootPlace::own);
  Sandbox(const Sandbox&) = delete;
  Sandbox& operator=(const Sandbox&) = delete;

  const std::filesystem::path& directory() const { return directory_; }
  const std::filesystem::path& root() const { return root_; }
  const std::filesystem::path& addOn() const { return addOn_; }
  const std::filesystem::path& host() const { return host_; }
  std::filesystem::path providerExecutable() const;

  // receipt: a receipt that fits the add-on and the host as they are now.
  FinderConversion::Receipt receipt() const;
  void writeReceipt(const FinderConversion::Receipt& receipt) const;
  // audio creates a small file in the sandbox's music folder.
  std::filesystem::path audio(const std::string& name) const;

  // Files the provider leaves behind.
  std::vector<std::filesystem::path> queued() const;
  std::vector<std::filesystem::path> rejected() const;
  std::filesystem::path acknowledgementOf(const platform::Uuid& id) const;
  FinderConversion::Request onlyQueuedRequest() const;
  // answer writes the host's acknowledgement of the one request in the queue.
  void answer(bool accepted, const std::string& message = "") const;
  std::optional<std::string> providerError() const;

 private:
  test_support::TempDirectory temporary_{"provider"};  // removed with everything in it
  std::filesystem::path directory_;
  std::filesystem::path root_;
  std::filesystem::path addOn_;
  std::filesystem::path host_;
};

// makeHostBundle creates a host bundle at `bundle`: Info.plist with `identifier`, the protocol
// file {"version":1}, and Contents/MacOS/Tonebrook as a copy of `executable` (or a small
// executable script when `executable` is empty).
void makeHostBundle(const std::filesystem::path& bundle, const std::string& identifier,
                    const std::filesystem::path& executable = {});
void writeText(const std::filesystem::path& file, const std::string& text);
std::string readText(const std::filesystem::path& file);

// after runs `work` once, `delay` from now, on the desktop's run loop.
void after(platform::Desktop& desktop, platform::Seconds delay, std::function<void()> work);

}  // namespace provider_test
