#!/usr/bin/env bash
# Installs the Debian 12 packages the project needs, only those still missing,
# so that a machine that has them all pays nothing.
set -euo pipefail

packages=(
  g++ cmake make pkg-config git
  nlohmann-json3-dev libssl-dev uuid-dev liburiparser-dev libutf8proc-dev
  libplist-dev libsystemd-dev dbus-daemon dbus-bin
  libgtest-dev libgmock-dev libbenchmark-dev
  # The stand-in host converts with ffmpeg and refuses requests without it; the tests and the
  # demo both run that host for real.
  ffmpeg
  # The tests validate the desktop entries the installer writes with desktop-file-validate.
  desktop-file-utils
  # bench/table.sh times with Python and takes its reference from the openssl command.
  python3 openssl
  # The Debian package: dpkg-shlibdeps finds its library dependencies; the tests read the
  # manual pages with man and groff.
  dpkg-dev man-db groff-base
  # scripts/fuzz.sh: the libFuzzer targets build with clang and its fuzzer and sanitizer runtimes.
  clang libclang-rt-14-dev
)

missing=()
for package in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)
  [[ "$status" == "install ok installed" ]] || missing+=("$package")
done

if ((${#missing[@]})); then
  echo "Installing: ${missing[*]}"
  sudo=""
  [[ $(id -u) -eq 0 ]] || sudo="sudo"
  $sudo apt-get update
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends "${missing[@]}"
fi
