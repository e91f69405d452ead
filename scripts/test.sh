#!/usr/bin/env bash
# Installs what is missing, then configures, builds and runs every test in the
# normal and in the sanitizer configuration, then builds the release configuration, runs
# every benchmark once, briefly, and builds and checks the Debian package from it.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh

jobs=$(nproc)
for preset in normal sanitize; do
  echo "=== $preset ==="
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
  ctest --preset "$preset"
done

# Every reader of outside bytes under libFuzzer, FUZZ_SECONDS per target (scripts/fuzz.sh).
echo "=== fuzz ==="
fuzz_start=$SECONDS
FUZZ_SECONDS=${FUZZ_SECONDS:-20} scripts/fuzz.sh
echo "fuzz stage: $((SECONDS - fuzz_start)) s"

echo "=== release ==="
cmake --preset release >/dev/null
cmake --build --preset release -j "$jobs"
bench/run_once.sh build/release
scripts/check-package.sh build/release
