#include "tests/lifetime/lifetime_fixture.h"

#include <fstream>
#include <iterator>
#include <thread>

#include "exchange/constants.h"
#include "exchange/record_files.h"
#include "platform/core/files.h"
#include "platform/core/uuid.h"

namespace lifetime_testing {

std::string readFile(const std::filesystem::path& path) {
  std::ifstream stream(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(stream), std::istreambuf_iterator<char>()};
}

void writeFile(const std::filesystem::path& path, std::string_view bytes) {
  std::ofstream stream(path, std::ios::binary | std::ios::trunc);
  stream.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  ASSERT_TRUE(stream.good()) << path;
}

platform::Error errorOf(const std::function<void()>& operation) {
  try {
    operation();
  } catch (const platform::Error& error) {
    return error;
  }
  ADD_FAILURE() << "no error was thrown";
  return platform::Error("", 0, "");
}

std::string describe(const platform::Error& error) {
  return error.domain() + " " + std::to_string(error.code()) + ": " + error.description();
}

std::string failureOf(const std::function<void()>& operation) {
  return describe(errorOf(operation));
}

std::string sentence(std::string_view text) {
  return describe(FinderConversion::failure(std::string(text)));
}

bool lockIsFree(const std::filesystem::path& root) {
  auto file = platform::LockFile::open(root / "provider.lock");
  if (!file || !file->tryLockExclusive()) return false;
  file->unlock();
  return true;
}

ChildProcess spawnChild(const std::vector<std::string>& arguments,
                        const std::filesystem::path& output) {
  platform::SpawnOptions options;
  options.arguments = arguments;
  options.output = platform::StreamTarget::toFile(output);
  options.errors = platform::StreamTarget::sameAsOutput();
  // Left open on purpose: a descriptor of ours without close-on-exec must show up in the child.
  options.closeInheritedDescriptors = false;
  return ChildProcess::spawn(options);
}

void LifetimeTest::SetUp() {
  root = directory / "Application Support" / "FinderConversion";
  executable = directory / "TonebrookQuickConversion";
  executableBytes = std::string(64 * 1024, 'x') + platform::Uuid::random().text();
  writeFile(executable, executableBytes);
}

ChildProcess LifetimeTest::startProvider(const std::filesystem::path& busyWhile) {
  std::vector<std::string> arguments = {LIFETIME_TEST_PROVIDER, root.string(), executable.string()};
  if (!busyWhile.empty()) {
    arguments.push_back("--busy-while");
    arguments.push_back(busyWhile.string());
  }
  return spawnChild(arguments, directory / "provider-output.txt");
}

State LifetimeTest::waitForState(int pid, std::chrono::milliseconds timeout) {
  auto deadline = std::chrono::steady_clock::now() + timeout;
  while (std::chrono::steady_clock::now() < deadline) {
    try {
      auto state = FinderConversion::read<State>(statePath());
      if (state.pid == pid) return state;
    } catch (const platform::Error&) {
      // Not written yet.
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  ADD_FAILURE() << "process " << pid << " wrote no heartbeat; output: " << providerOutput();
  return {};
}

}  // namespace lifetime_testing
