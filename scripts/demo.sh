#!/usr/bin/env bash
# Shows one audio file going the whole way: installs what is missing, builds, installs the
# stand-in host's add-on into a private home under the build tree, starts a private session
# bus that can start the provider on demand, and converts a two-second test tone to MP3 through
# the Services client. Touches nothing outside the repository.
#
#   scripts/demo.sh [--no-install] [--build-dir DIR]
#     --no-install     do not install Debian packages (they must be present)
#     --build-dir DIR  use an existing build instead of configuring and building the normal preset
set -euo pipefail
cd "$(dirname "$0")/.."
# shellcheck source=scripts/private-bus.sh
source scripts/private-bus.sh

install=1
build=""
while (($#)); do
  case "$1" in
    --no-install) install=0 ;;
    --build-dir) build="$2"; shift ;;
    *) echo "usage: scripts/demo.sh [--no-install] [--build-dir DIR]" >&2; exit 2 ;;
  esac
  shift
done

say() { printf '\n== %s\n' "$*"; }

if ((install)); then
  say "Installing missing Debian packages (ffmpeg included)"
  scripts/install-deps.sh
fi

if [[ -z "$build" ]]; then
  say "Building (CMake preset 'normal')"
  cmake --preset normal >/dev/null
  cmake --build --preset normal -j "$(nproc)" \
    --target Tonebrook TonebrookQuickConversion tonebrook-services
  build=build/normal
fi
build=$(cd "$build" && pwd)
host="$build/Tonebrook.app/Contents/MacOS/Tonebrook"
package="$build/Tonebrook Quick Conversion.service"
for needed in "$host" "$package/Contents/MacOS/TonebrookQuickConversion"; do
  [[ -x "$needed" ]] || { echo "Missing $needed: build first." >&2; exit 1; }
done

demo="$build/demo"
rm -rf "$demo"
mkdir -p "$demo/home" "$demo/music" "$demo/bus"
export HOME="$demo/home"
unset XDG_DATA_HOME
state="$HOME/Library/Application Support/Tonebrook/FinderConversion"

say "Installing the add-on into the private home $HOME"
"$host" --install-addon "$package"
echo "Package:    $HOME/Library/Services/Tonebrook Quick Conversion.service"
echo "Receipt:    $state/receipt.json"
echo "Activation: $HOME/.local/share/dbus-1/services/app.tonebrook.QuickConversion.service"
echo "Client:     $HOME/.local/bin/tonebrook-services"

say "Starting a private session bus that starts the provider on demand"
start_private_bus "$demo/bus"
finish() {
  say "Retiring the provider and stopping the bus"
  "$host" --retire-provider || true
  kill "$bus_pid" 2>/dev/null || true
}
trap finish EXIT
echo "Bus: $DBUS_SESSION_BUS_ADDRESS (pid $bus_pid)"

say "Making a two-second test tone"
tone="$demo/music/Test tone.wav"
ffmpeg -loglevel error -f lavfi -i "sine=frequency=440:duration=2" -y "$tone"
ls -l "$tone"

say "Converting it to MP3 through the Services client"
echo "\$ tonebrook-services mp3 '$tone'"
start=$(date +%s%N)
"$HOME/.local/bin/tonebrook-services" mp3 "$tone"
elapsed=$((($(date +%s%N) - start) / 1000000))
echo "The provider answered: accepted after ${elapsed} ms (bus activation and host launch included)."
provider=$(sed -n 's/.*"pid":\([0-9]*\).*/\1/p' "$state/provider-state.json" 2>/dev/null || true)
echo "The bus started the provider (pid ${provider:-?}); it queued the request and started the host."

say "Waiting for the host to finish the conversion"
mp3="$demo/music/Test tone.mp3"
for _ in $(seq 300); do
  if grep -qs '"terminal":true' "$state/acknowledgements/"*.json; then break; fi
  sleep 0.1
done
echo "Acknowledgement: $(cat "$state/acknowledgements/"*.json)"
if [[ -s "$mp3" ]]; then
  echo
  echo "Converted file: $mp3"
  ls -l "$mp3"
else
  echo "No MP3 was written; see the acknowledgement above." >&2
  exit 1
fi
