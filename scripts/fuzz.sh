#!/usr/bin/env bash
# Builds the fuzz preset and runs every libFuzzer target for a bounded time, each on a scratch
# copy of its committed corpus (fuzz/corpus/<name>), so a run never changes the repository.
# Prints the executions of each target and fails on any finding: a crash, a leak, a timeout, an
# undefined-behaviour report or a round trip that does not come back.
#
#   scripts/fuzz.sh [TARGET...]        all targets when none is named (names as in fuzz/, e.g. url)
#   FUZZ_SECONDS   seconds per target (default 20)
#   FUZZ_JOBS      targets run at once (default: the number of cores, at most 2)
#   FUZZ_SCRATCH   scratch directory (default build/fuzz/runs, emptied first)
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${FUZZ_SECONDS:-20}
jobs=${FUZZ_JOBS:-$(($(nproc) < 2 ? $(nproc) : 2))}
scratch=${FUZZ_SCRATCH:-build/fuzz/runs}

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j "$(nproc)"

targets=("$@")
if ((${#targets[@]} == 0)); then
  for source in fuzz/*_fuzzer.cc; do
    name=$(basename "$source" _fuzzer.cc)
    targets+=("$name")
  done
fi

rm -rf "$scratch"
mkdir -p "$scratch"
scratch=$(cd "$scratch" && pwd)
binaries=$(pwd)/build/fuzz/fuzz

# The targets that read JSON get its tokens.
json_targets=" receipt request acknowledgement provider_state retirement json protocol bookmark "

# run_target NAME: one bounded run; its log in $scratch/NAME.log, findings in
# $scratch/NAME-artifacts/.
run_target() {
  local name=$1
  local corpus="$scratch/$name-corpus" artifacts="$scratch/$name-artifacts"
  mkdir -p "$corpus" "$artifacts"
  if [[ -d "fuzz/corpus/$name" ]]; then cp -R "fuzz/corpus/$name/." "$corpus/"; fi
  local options=(-max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1
                 -artifact_prefix="$artifacts/")
  if [[ "$json_targets" == *" $name "* ]]; then options+=(-dict=fuzz/json.dict); fi
  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    "$binaries/${name}_fuzzer" "${options[@]}" "$corpus" >"$scratch/$name.log" 2>&1
}
export -f run_target
export scratch binaries seconds json_targets

echo "=== fuzzing ${#targets[@]} targets, ${seconds} s each, $jobs at a time"
printf '%s\n' "${targets[@]}" | xargs -P "$jobs" -I{} bash -c 'run_target {} || true'

failed=0
for name in "${targets[@]}"; do
  log="$scratch/$name.log"
  units=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
  finding=$(ls -A "$scratch/$name-artifacts" 2>/dev/null | head -n 1)
  if [[ -n "$finding" || -z "$units" ]]; then
    failed=1
    printf '%-16s FAILED  (log %s)\n' "$name" "$log"
    grep -m 5 -E 'FINDING|ERROR:|runtime error|SUMMARY' "$log" | sed 's/^/    /' || true
    [[ -n "$finding" ]] &&
      echo "    reproduce: build/fuzz/fuzz/${name}_fuzzer $scratch/$name-artifacts/$finding"
  else
    printf '%-16s %12s executions\n' "$name" "$units"
  fi
done
exit "$failed"
