#!/usr/bin/env bash
# Prints the performance table of docs/performance.md: each figure of the release build next to
# its reference measured in the same run. Builds the release preset when a binary is missing,
# installs the add-on into a private home under the build tree and starts a private session bus,
# like scripts/demo.sh. Touches nothing outside the repository.
#
#   bench/table.sh [--build-dir DIR] [--warm-calls N] [--cold-calls N] [--idle-seconds S]
set -euo pipefail
cd "$(dirname "$0")/.."
# shellcheck source=scripts/private-bus.sh
source scripts/private-bus.sh

build=build/release
warm=40
cold=7
idle=20
while (($#)); do
  case "$1" in
    --build-dir) build="$2"; shift ;;
    --warm-calls) warm="$2"; shift ;;
    --cold-calls) cold="$2"; shift ;;
    --idle-seconds) idle="$2"; shift ;;
    *) echo "usage: bench/table.sh [--build-dir DIR] [--warm-calls N] [--cold-calls N]" \
         "[--idle-seconds S]" >&2; exit 2 ;;
  esac
  shift
done

host_rel="Tonebrook.app/Contents/MacOS/Tonebrook"
provider_rel="Tonebrook Quick Conversion.service/Contents/MacOS/TonebrookQuickConversion"
if [[ ! -x "$build/$host_rel" || ! -x "$build/$provider_rel" || ! -x "$build/bench/inventory_bench" ]]; then
  cmake --preset release >/dev/null
  cmake --build "$build" -j "$(nproc)"
fi
build=$(cd "$build" && pwd)
host="$build/$host_rel"
package="$build/Tonebrook Quick Conversion.service"

work="$build/table"
rm -rf "$work"
mkdir -p "$work/home" "$work/music" "$work/bus" "$work/tree"
export HOME="$work/home"
unset XDG_DATA_HOME
"$host" --install-addon "$package" >/dev/null

start_private_bus "$work/bus"
finish() {
  "$host" --retire-provider >/dev/null 2>&1 || true
  kill "$bus_pid" 2>/dev/null || true
  rm -rf "$work/tree"
}
trap finish EXIT

ffmpeg -loglevel error -f lavfi -i "sine=frequency=440:duration=0.1" -y "$work/music/tone.wav"
"$build/bench/inventory_bench" make "$work/tree" 32

echo "Machine: $(nproc) cores, $(lscpu | sed -n 's/^Model name: *//p' | head -n 1)"
echo "Build:   $build ($(stat -c %s "$build/$provider_rel") byte provider)"
python3 bench/table.py --build "$build" --home "$HOME" --tree "$work/tree" \
  --tone "$work/music/tone.wav" --warm "$warm" --cold "$cold" --idle "$idle"
