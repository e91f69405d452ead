#!/usr/bin/env bash
# Hashing throughput of inventory next to `openssl dgst -sha256` on the same 64 MiB tree, in one
# run, both with a warm page cache. Usage: bench/inventory_vs_openssl.sh [build-dir]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/release}
runs=5

if [[ ! -x "$build/bench/inventory_bench" ]]; then
  cmake --preset release >/dev/null
  cmake --build "$build" --target inventory_bench -j "$(nproc)"
fi
tree=$(mktemp -d)
trap 'rm -rf "$tree"' EXIT
"$build/bench/inventory_bench" make "$tree" 64

"$build/bench/inventory_bench" time "$tree" "$runs"

files=$(find "$tree" -type f | wc -l)
find "$tree" -type f -print0 | xargs -0 openssl dgst -sha256 >/dev/null  # warm the cache
best=""
for _ in $(seq "$runs"); do
  start=$(date +%s.%N)
  find "$tree" -type f -print0 | xargs -0 openssl dgst -sha256 >/dev/null
  end=$(date +%s.%N)
  best=$(awk -v s="$start" -v e="$end" -v b="$best" 'BEGIN { d = e - s; print (b == "" || d < b) ? d : b }')
done
awk -v f="$files" -v b="$best" -v r="$runs" -v v="$(openssl version)" \
  'BEGIN { printf "openssl dgst -sha256: %d files, 64 MiB, best of %d: %.4f s, %.1f MiB/s (%s)\n", f, r, b, 64 / b, v }'
