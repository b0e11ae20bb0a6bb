#!/usr/bin/env bash
# Installs the Debian 12 packages qovra needs to build, test and run.
# Idempotent: asks apt only when something is missing.
set -euo pipefail

packages=(
  # toolchain
  g++ cmake ninja-build pkg-config clang libclang-rt-14-dev
  # libraries
  libssl-dev zlib1g-dev libsqlite3-dev libcurl4-openssl-dev libpugixml-dev libp11-kit-dev
  libcpp-httplib-dev
  # windows
  qt6-base-dev qt6-multimedia-dev libqt6svg6-dev tango-icon-theme librsvg2-bin libx11-dev
  # tests and benchmarks
  googletest libgtest-dev libbenchmark-dev rhash libengine-gost-openssl openssl
  sqlite3 softhsm2 opensc xxd p11-kit-modules xvfb xauth fonts-dejavu-core fonts-liberation2
  # screenshots and driving windows by hand
  openbox xdotool
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if ((${#missing[@]})); then
  echo "installing: ${missing[*]}"
  SUDO=""
  if [ "$(id -u)" != 0 ]; then SUDO=sudo; fi
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
