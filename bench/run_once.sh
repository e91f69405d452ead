#!/usr/bin/env bash
# Runs every benchmark once with a short setting, so that CI notices one that no longer builds
# or runs; the figures themselves mean nothing here (bench/table.sh gives those).
#   bench/run_once.sh [build-dir]   (default build/release, built already)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/release}

tree=$(mktemp -d)
trap 'rm -rf "$tree"' EXIT
"$build/bench/inventory_bench" make "$tree" 4
"$build/bench/inventory_bench" time "$tree" 1
"$build/bench/lifetime_tick_bench" --benchmark_min_time=0.01 \
  --executable="$build/Tonebrook Quick Conversion.service/Contents/MacOS/TonebrookQuickConversion"
"$build/bench/running_applications_bench" --benchmark_min_time=0.01
bench/table.sh --build-dir "$build" --warm-calls 3 --cold-calls 1 --idle-seconds 1
