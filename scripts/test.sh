#!/usr/bin/env bash
# Installs what is missing, builds every configuration and runs every test:
#   build     the normal, sanitizer (address + undefined), thread sanitizer, release and fuzz
#             presets, one after the other (each build takes both cores);
#   suites    the normal and the sanitizer test suites side by side (they share no state: each
#             test has its own temporary home, state root and bus);
#   threads   the thread sanitizer's tests (label "threads"), beside the soak (label "soak":
#             kills at random, TONEBROOK_SOAK_ROUNDS to raise its count);
#   fuzz      every fuzz target for FUZZ_SECONDS (default 20) each (scripts/fuzz.sh);
#   release   every benchmark once, briefly, then the Debian package, built and checked.
# Prints how long each stage took, and a summary at the end.
set -euo pipefail
cd "$(dirname "$0")/.."

jobs=$(nproc)
logs=build/test-logs
summary=()

# stage NAME COMMAND...: runs one stage and records how long it took.
stage() {
  local name=$1
  shift
  echo "=== $name"
  local start=$SECONDS
  "$@"
  local took=$((SECONDS - start))
  echo "=== $name: ${took} s"
  summary+=("$(printf '%-10s %5d s' "$name" "$took")")
}

# side_by_side NAME=COMMAND...: runs the commands at once, each with its output in a log of its
# own (printed whole when it ends, so that the outputs do not interleave); fails when any fails.
side_by_side() {
  local names=() pids=() failed=0
  mkdir -p "$logs"
  for job in "$@"; do
    local name=${job%%=*}
    bash -c "${job#*=}" >"$logs/$name.log" 2>&1 &
    names+=("$name")
    pids+=($!)
  done
  for index in "${!pids[@]}"; do
    local status=0
    wait "${pids[$index]}" || status=$?
    echo "--- ${names[$index]} (exit $status)"
    cat "$logs/${names[$index]}.log"
    ((status == 0)) || failed=1
  done
  return "$failed"
}

build_all() {
  for preset in normal sanitize thread release fuzz; do
    echo "--- build $preset"
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset" -j "$jobs"
  done
}

release_checks() {
  bench/run_once.sh build/release
  scripts/check-package.sh build/release
}

stage deps scripts/install-deps.sh
stage build build_all
stage suites side_by_side "normal=ctest --preset normal" "sanitize=ctest --preset sanitize"
stage threads side_by_side "thread=ctest --preset thread" "soak=ctest --preset soak"
stage fuzz env FUZZ_SECONDS="${FUZZ_SECONDS:-20}" scripts/fuzz.sh
stage release release_checks

echo "=== time per stage"
printf '%s\n' "${summary[@]}"
echo "total      $(printf '%5d' "$SECONDS") s"
