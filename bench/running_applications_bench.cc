// The running-application lookup that every Services call makes: a look at every process of
// the machine for those that run a bundle's executable. Measured with no process of the bundle
// and with a few, beside the floor of any such lookup (listing /proc alone):
//
//   running_applications_bench [benchmark flags]
//
// The bundle's processes are copies of sleep(1) in Contents/MacOS of a temporary bundle.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/core/spawn.h"
#include "platform/core/uuid.h"
#include "platform/linux/running_applications.h"

namespace {

namespace fs = std::filesystem;

constexpr const char* kIdentifier = "app.tonebrook.RunningBench";

// BundleProcesses: `count` processes running a bundle's executable, ended and removed
// afterwards.
class BundleProcesses {
 public:
  explicit BundleProcesses(std::int64_t count)
      : directory_(fs::temp_directory_path() /
                   ("running-bench-" + platform::Uuid::random().text())) {
    const fs::path contents = directory_ / "Bench.app" / "Contents";
    fs::create_directories(contents / "MacOS");
    std::ofstream(contents / "Info.plist")
        << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
           "<key>CFBundleIdentifier</key><string>"
        << kIdentifier << "</string><key>CFBundleExecutable</key><string>Host</string>"
        << "</dict></plist>\n";
    const fs::path executable = contents / "MacOS" / "Host";
    fs::copy_file("/usr/bin/sleep", executable);
    platform::SpawnOptions options;
    options.arguments = {executable.string(), "600"};
    for (std::int64_t i = 0; i < count; ++i) {
      children_.push_back(platform::ChildProcess::spawn(options));
    }
  }
  BundleProcesses(const BundleProcesses&) = delete;
  BundleProcesses& operator=(const BundleProcesses&) = delete;
  ~BundleProcesses() {
    children_.clear();  // killed and reaped
    std::error_code ignored;
    fs::remove_all(directory_, ignored);
  }

 private:
  fs::path directory_;
  std::vector<platform::ChildProcess> children_;
};

std::int64_t processCount() {
  std::int64_t count = 0;
  for (const auto& entry : fs::directory_iterator("/proc")) {
    const std::string name = entry.path().filename().string();
    count += !name.empty() && name.find_first_not_of("0123456789") == std::string::npos;
  }
  return count;
}

// The floor: every lookup lists /proc at least once.
void listingProcAlone(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(processCount());
  state.counters["processes"] = static_cast<double>(processCount());
}
BENCHMARK(listingProcAlone)->Unit(benchmark::kMicrosecond);

void runningApplications(benchmark::State& state) {
  const BundleProcesses running(state.range(0));
  std::size_t found = 0;
  for (auto _ : state) {
    found = platform::runningApplicationsWithIdentifier(kIdentifier).size();
    benchmark::DoNotOptimize(found);
  }
  state.counters["found"] = static_cast<double>(found);
  state.counters["processes"] = static_cast<double>(processCount());
}
BENCHMARK(runningApplications)->Arg(0)->Arg(4)->Arg(16)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
