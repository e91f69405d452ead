// exchange_lock_holder ROOT: takes the lifecycle lock of ROOT, creates ROOT/holding, and keeps
// the lock until ROOT/release exists (at most ten seconds). Exit status 0 when it held the lock.
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <thread>

#include "exchange/record_files.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: exchange_lock_holder ROOT\n";
    return 2;
  }
  const std::filesystem::path root = argv[1];
  try {
    FinderConversion::withLock(root, [&root] {
      std::ofstream(root / "holding").close();
      const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
      while (!std::filesystem::exists(root / "release") &&
             std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
      }
    });
  } catch (const std::exception& error) {
    std::cerr << error.what() << '\n';
    return 1;
  }
  return 0;
}
