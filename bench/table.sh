#!/usr/bin/env bash
# Prints the performance table of docs/performance.md: each figure of the release build next to
# its reference measured in the same run. Builds the release preset when a binary is missing,
# installs the add-on into a private home under the build tree and starts a private session bus,
# like scripts/demo.sh. Touches nothing outside the repository.
#
#   bench/table.sh [--build-dir DIR] [--warm-calls N] [--cold-calls N] [--idle-seconds S]
set -euo pipefail
cd "$(dirname "$0")/.."

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

cat >"$work/bus/session.conf" <<CONF
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <keep_umask/>
  <listen>unix:tmpdir=/tmp</listen>
  <auth>EXTERNAL</auth>
  <servicedir>$HOME/.local/share/dbus-1/services</servicedir>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
CONF
exec 3>"$work/bus/address" 4>"$work/bus/pid"
dbus-daemon --config-file="$work/bus/session.conf" --fork --print-address=3 --print-pid=4
exec 3>&- 4>&-
bus_pid=$(cat "$work/bus/pid")
DBUS_SESSION_BUS_ADDRESS=$(head -n 1 "$work/bus/address")
export DBUS_SESSION_BUS_ADDRESS
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
