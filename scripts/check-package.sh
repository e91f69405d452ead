#!/usr/bin/env bash
# Builds the Debian package from a configured and built Release tree and checks it as a user
# would meet it: its exact file list, its Depends line, the add-on kept byte for byte as built,
# readable manual pages; then unpacks it into a temporary root (dpkg-deb -x, no root rights
# needed), sets up a private home with the unpacked `Tonebrook --install-addon` (no PACKAGE: the
# add-on beside the host) and converts a test tone to MP3 through the unpacked
# `tonebrook-services`, on a private session bus. Touches nothing outside the temporary
# directory.
#
#   scripts/check-package.sh [BUILD-DIR]     (default build/release, built already)
set -euo pipefail
cd "$(dirname "$0")/.."
# shellcheck source=scripts/private-bus.sh
source scripts/private-bus.sh
build=$(cd "${1:-build/release}" && pwd)

fail() {
  echo "check-package: $*" >&2
  exit 1
}

grep -qx 'CMAKE_BUILD_TYPE:STRING=Release' "$build/CMakeCache.txt" ||
  fail "$build is not a Release build (cmake --preset release)"

work=$(mktemp -d)
root="$work/root"
bus_pid=""
finish() {
  if [[ -x "$root/usr/bin/Tonebrook" ]]; then
    HOME="$work/home" "$root/usr/bin/Tonebrook" --retire-provider >/dev/null 2>&1 || true
  fi
  if [[ -n "$bus_pid" ]]; then kill "$bus_pid" 2>/dev/null || true; fi
  # A host leaves 2 s after its last request; nothing may run from the root once it is removed.
  for _ in $(seq 50); do
    running=$(find /proc/[0-9]*/exe -maxdepth 0 -lname "$root/*" 2>/dev/null || true)
    [[ -z "$running" ]] && break
    sleep 0.1
  done
  for exe in $running; do kill -9 "$(basename "$(dirname "$exe")")" 2>/dev/null || true; done
  rm -rf "$work"
}
trap finish EXIT

echo "== Building the package"
cpack --config "$build/CPackConfig.cmake" -B "$work/out" >"$work/cpack.log" ||
  { cat "$work/cpack.log" >&2; fail "cpack failed"; }
debs=("$work"/out/tonebrook_*.deb)
deb=${debs[0]}
[[ -f "$deb" ]] || fail "cpack made no tonebrook_*.deb"
basename "$deb"

echo "== File list"
# Type and mode, owner, path and link target; sizes and dates left out.
dpkg-deb -c "$deb" | sed -E 's/^(\S+) (\S+) +[0-9]+ \S+ \S+ /\1 \2 /' >"$work/files"
app=./usr/lib/tonebrook/Tonebrook.app/Contents
addon="./usr/lib/tonebrook/Tonebrook Quick Conversion.service/Contents"
cat >"$work/expected-files" <<FILES
drwxr-xr-x root/root ./usr/
drwxr-xr-x root/root ./usr/bin/
lrwxrwxrwx root/root ./usr/bin/Tonebrook -> ../lib/tonebrook/Tonebrook.app/Contents/MacOS/Tonebrook
lrwxrwxrwx root/root ./usr/bin/tonebrook-services -> ../lib/tonebrook/Tonebrook.app/Contents/Helpers/tonebrook-services
drwxr-xr-x root/root ./usr/lib/
drwxr-xr-x root/root ./usr/lib/tonebrook/
drwxr-xr-x root/root ./usr/lib/tonebrook/Tonebrook Quick Conversion.service/
drwxr-xr-x root/root $addon/
-rw-r--r-- root/root $addon/Info.plist
drwxr-xr-x root/root $addon/MacOS/
-rwxr-xr-x root/root $addon/MacOS/TonebrookQuickConversion
drwxr-xr-x root/root ./usr/lib/tonebrook/Tonebrook.app/
drwxr-xr-x root/root $app/
drwxr-xr-x root/root $app/Helpers/
-rwxr-xr-x root/root $app/Helpers/tonebrook-install
-rwxr-xr-x root/root $app/Helpers/tonebrook-notify
-rwxr-xr-x root/root $app/Helpers/tonebrook-services
-rw-r--r-- root/root $app/Info.plist
drwxr-xr-x root/root $app/MacOS/
-rwxr-xr-x root/root $app/MacOS/Tonebrook
drwxr-xr-x root/root $app/Resources/
drwxr-xr-x root/root $app/Resources/FinderAddon/
-rw-r--r-- root/root $app/Resources/FinderAddon/protocol.json
drwxr-xr-x root/root ./usr/share/
drwxr-xr-x root/root ./usr/share/doc/
drwxr-xr-x root/root ./usr/share/doc/tonebrook/
-rw-r--r-- root/root ./usr/share/doc/tonebrook/copyright
drwxr-xr-x root/root ./usr/share/man/
drwxr-xr-x root/root ./usr/share/man/man1/
-rw-r--r-- root/root ./usr/share/man/man1/Tonebrook.1.gz
-rw-r--r-- root/root ./usr/share/man/man1/tonebrook-services.1.gz
FILES
diff -u "$work/expected-files" "$work/files" || fail "unexpected file list"
echo "$(wc -l <"$work/files") entries as expected"

echo "== Depends"
depends=$(dpkg-deb -f "$deb" Depends)
echo "$depends"
# Declared by hand, then found by dpkg-shlibdeps in the executables.
for needed in "ffmpeg" "default-dbus-session-bus | dbus-session-bus" "util-linux (>= 2.33)" \
  "libc6 " "libstdc++6 " "libssl3 " "libsystemd0 " "libplist3 " "liburiparser1 " \
  "libutf8proc2 " "libuuid1 "; do
  [[ ", $depends" == *", $needed"* ]] || fail "Depends lacks $needed"
done

echo "== Unpacking into $root"
dpkg-deb -x "$deb" "$root"
# The bundles are the built ones byte for byte: the installer hashes the add-on it copies from
# /usr/lib/tonebrook, and a provider checks its copy against that receipt.
for bundle in "Tonebrook Quick Conversion.service" Tonebrook.app; do
  diff -r "$build/$bundle" "$root/usr/lib/tonebrook/$bundle" || fail "$bundle differs from the build"
done
for page in Tonebrook tonebrook-services; do
  warnings=$(man --warnings -l "$root/usr/share/man/man1/$page.1.gz" 2>&1 >/dev/null)
  [[ -z "$warnings" ]] || fail "$page.1: $warnings"
done

echo "== Setting up a private home with the unpacked Tonebrook --install-addon"
export HOME="$work/home"
unset XDG_DATA_HOME
mkdir -p "$HOME"
"$root/usr/bin/Tonebrook" --install-addon
state="$HOME/Library/Application Support/Tonebrook/FinderConversion"
grep -qF "\"appPath\":\"file:\/\/${root//\//\\/}\/usr\/lib\/tonebrook\/Tonebrook.app\"" \
  "$state/receipt.json" || fail "the receipt is not bound to the unpacked host: $(cat "$state/receipt.json")"

echo "== Converting a test tone to MP3 through the unpacked tonebrook-services"
start_private_bus "$work/bus"
mkdir -p "$work/music"
tone="$work/music/Test tone.wav"
ffmpeg -loglevel error -f lavfi -i "sine=frequency=440:duration=1" -y "$tone"
"$root/usr/bin/tonebrook-services" mp3 "$tone"
for _ in $(seq 300); do
  grep -qs '"terminal":true' "$state/acknowledgements/"*.json && break
  sleep 0.1
done
mp3="$work/music/Test tone.mp3"
[[ -s "$mp3" ]] || fail "no MP3: $(cat "$state/acknowledgements/"*.json 2>/dev/null)"
echo "Converted: $(basename "$mp3"), $(stat -c %s "$mp3") bytes"
echo "Package check passed."
