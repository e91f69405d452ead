// The one real-time run of the 70-second deadline: a host that accepts the request but never
// leaves its sign.
#include <chrono>
#include <fstream>

#include "exchange/record_files.h"
#include "platform/linux/bookmark.h"
#include "tests/e2e/e2e_fixture.h"

namespace e2e {
namespace {

class PackagedTimeout : public EndToEnd {};

TEST_F(PackagedTimeout, HostWithoutSignEndsTheRunWithStatusTwoAfterSeventySeconds) {
  install(builtPackage());
  // A compatible copy of the host whose executable serves the queue without the verification
  // arguments, so it acknowledges but leaves no sign; the receipt is bound to it.
  const fs::path silent = directory() / "Silent.app";
  fs::create_directories(silent / "Contents/MacOS");
  fs::copy(hostBundle() / "Contents/Info.plist", silent / "Contents/Info.plist");
  fs::copy(hostBundle() / "Contents/Resources", silent / "Contents/Resources",
           fs::copy_options::recursive);
  const fs::path executable = silent / "Contents/MacOS/Tonebrook";
  std::ofstream(executable) << "#!/bin/sh\nexec '" << host().string() << "' --finder-service\n";
  fs::permissions(executable, fs::perms::owner_all);
  const fs::path receiptFile = stateRoot() / FinderConversion::names::kReceipt;
  auto receipt = FinderConversion::read<FinderConversion::Receipt>(receiptFile);
  receipt.appPath = platform::Url::fromFilePath(silent);
  receipt.appBookmark = platform::makeBookmark(*receipt.appPath);
  FinderConversion::write(receipt, receiptFile);

  const auto before = std::chrono::steady_clock::now();
  const RunResult result = run({installedProvider().string(), "--verify-provider",
                                stateRoot().string(), "mp3", audioFile("tone.wav").string()},
                               100);
  const std::chrono::duration<double> took = std::chrono::steady_clock::now() - before;
  EXPECT_EQ(result.status, 2);
  EXPECT_EQ(result.errors, "Packaged provider timed out.\n");
  EXPECT_GE(took.count(), 70.0);
  EXPECT_LT(took.count(), 85.0);
  EXPECT_FALSE(fs::exists(stateRoot() / FinderConversion::names::kPackagedInbox));
}

}  // namespace
}  // namespace e2e
