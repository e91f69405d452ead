// The provider's idle tick: every 0.2 s its timer rewrites the heartbeat and asks shouldRetire,
// which reads and hashes the whole executable. This measures one tick, and both halves alone,
// for an executable stand-in of a given size, or for a real file:
//
//   lifetime_tick_bench [--executable=PATH] [benchmark flags]
//
// Without --executable, the stand-ins are random files of 2 MiB and 5 MiB.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "lifetime/finder_provider_lifetime.h"
#include "platform/core/uuid.h"

namespace {

// A state root and an executable in a fresh temporary directory, removed afterwards.
class TickWorld {
 public:
  explicit TickWorld(const std::filesystem::path& source, std::int64_t size)
      : directory_(std::filesystem::temp_directory_path() /
                   ("lifetime-bench-" + platform::Uuid::random().text())) {
    std::filesystem::create_directories(directory_);
    std::filesystem::path executable = directory_ / "TonebrookQuickConversion";
    if (source.empty()) {
      writeRandomFile(executable, size);
    } else {
      std::filesystem::copy_file(source, executable);
    }
    lifetime_.emplace(directory_ / "root", executable, "bench");
  }
  TickWorld(const TickWorld&) = delete;
  TickWorld& operator=(const TickWorld&) = delete;
  ~TickWorld() {
    lifetime_.reset();
    std::error_code ignored;
    std::filesystem::remove_all(directory_, ignored);
  }

  FinderProviderLifetime& lifetime() { return *lifetime_; }
  std::int64_t executableSize() const {
    return static_cast<std::int64_t>(std::filesystem::file_size(lifetime_->executable()));
  }

 private:
  static void writeRandomFile(const std::filesystem::path& path, std::int64_t size) {
    std::mt19937_64 generator(42);
    std::vector<std::uint64_t> words(static_cast<std::size_t>(size) / sizeof(std::uint64_t));
    for (auto& word : words) word = generator();
    std::ofstream stream(path, std::ios::binary);
    stream.write(reinterpret_cast<const char*>(words.data()),
                 static_cast<std::streamsize>(words.size() * sizeof(std::uint64_t)));
  }

  std::filesystem::path directory_;
  std::optional<FinderProviderLifetime> lifetime_;
};

enum class Part { tick, heartbeat, shouldRetire };

void runTick(benchmark::State& state, const std::filesystem::path& source, Part part) {
  TickWorld world(source, state.range(0));
  FinderProviderLifetime& lifetime = world.lifetime();
  for (auto _ : state) {
    if (part != Part::shouldRetire) lifetime.heartbeat();
    if (part != Part::heartbeat) benchmark::DoNotOptimize(lifetime.shouldRetire());
  }
  state.counters["executable_bytes"] = static_cast<double>(world.executableSize());
  if (part != Part::heartbeat) {
    state.SetBytesProcessed(state.iterations() * world.executableSize());
  }
}

void registerAll(const std::filesystem::path& source) {
  const std::vector<std::int64_t> sizes =
      source.empty() ? std::vector<std::int64_t>{2 << 20, 5 << 20} : std::vector<std::int64_t>{0};
  const std::pair<const char*, Part> parts[] = {{"IdleTick", Part::tick},
                                                {"Heartbeat", Part::heartbeat},
                                                {"ShouldRetire", Part::shouldRetire}};
  for (const auto& [name, part] : parts) {
    auto* bench = benchmark::RegisterBenchmark(
        name, [source, part = part](benchmark::State& state) { runTick(state, source, part); });
    for (std::int64_t size : sizes) bench->Arg(size);
    bench->UseRealTime()->Unit(benchmark::kMicrosecond);
  }
}

}  // namespace

int main(int argc, char** argv) {
  constexpr std::string_view kFlag = "--executable=";
  std::filesystem::path source;
  std::vector<char*> arguments;
  for (int index = 0; index < argc; ++index) {
    std::string_view argument = argv[index];
    if (argument.substr(0, kFlag.size()) == kFlag) {
      source = std::filesystem::path(argument.substr(kFlag.size()));
    } else {
      arguments.push_back(argv[index]);
    }
  }
  int count = static_cast<int>(arguments.size());
  benchmark::Initialize(&count, arguments.data());
  registerAll(source);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
