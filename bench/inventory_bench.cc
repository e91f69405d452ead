// inventory_bench: hashing throughput of FinderConversion::inventory.
//   inventory_bench make DIR [MiB]   writes a package tree of MiB mebibytes (default 64) below DIR
//   inventory_bench time DIR [runs]  times inventory(DIR), best of `runs` (default 5)
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <random>
#include <string>

#include "exchange/inventory.h"

namespace {

namespace fs = std::filesystem;

// makeTree writes files of mixed sizes (16 KiB to 4 MiB) into 16 subdirectories, filled with
// pseudo-random bytes, until `mebibytes` MiB are written.
void makeTree(const fs::path& root, std::uintmax_t mebibytes) {
  std::mt19937_64 random(42);
  const std::uintmax_t total = mebibytes << 20;
  const std::uintmax_t sizes[] = {16 << 10, 256 << 10, 1 << 20, 4 << 20};
  std::uintmax_t written = 0;
  for (int index = 0; written < total; ++index) {
    const fs::path directory = root / ("Contents/Part" + std::to_string(index % 16));
    fs::create_directories(directory);
    const std::uintmax_t size = std::min(sizes[index % 4], total - written);
    std::string bytes(size, '\0');
    for (char& byte : bytes) byte = static_cast<char>(random());
    std::ofstream(directory / ("file" + std::to_string(index) + ".bin"), std::ios::binary) << bytes;
    written += size;
  }
}

std::uintmax_t treeBytes(const fs::path& root) {
  std::uintmax_t bytes = 0;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    if (entry.is_regular_file()) bytes += entry.file_size();
  }
  return bytes;
}

int timeInventory(const fs::path& root, int runs) {
  const std::uintmax_t bytes = treeBytes(root);
  double best = 1e9;
  std::size_t entries = 0;
  for (int run = 0; run < runs; ++run) {
    const auto start = std::chrono::steady_clock::now();
    entries = FinderConversion::inventory(root).size();
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
    best = std::min(best, elapsed.count());
  }
  const double mib = static_cast<double>(bytes) / (1 << 20);
  std::cout << "inventory: " << entries << " entries, " << mib << " MiB, best of " << runs << ": "
            << best << " s, " << mib / best << " MiB/s\n";
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc > 2 ? argv[1] : "";
  if (mode == "make") {
    makeTree(argv[2], argc > 3 ? std::stoull(argv[3]) : 64);
    return 0;
  }
  if (mode == "time") return timeInventory(argv[2], argc > 3 ? std::stoi(argv[3]) : 5);
  std::cerr << "usage: inventory_bench make DIR [MiB] | inventory_bench time DIR [runs]\n";
  return 2;
}
