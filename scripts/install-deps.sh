#!/usr/bin/env bash
# Installs the Debian 12 packages qovra needs to build, test and run.
# Idempotent: asks apt only when something is missing.
#   scripts/install-deps.sh           installs what is missing
#   scripts/install-deps.sh --check   lists what is missing, installs nothing;
#                                     exits 1 when something is
# Every name below is a package of its own, never a name that another
# package only provides (such as libqt6svg6-dev, provided by qt6-svg-dev):
# dpkg never reports such a name as installed, so apt would run on every
# start.
set -euo pipefail

check_only=
case "${1:-}" in
  "") ;;
  --check) check_only=1 ;;
  *) echo "usage: $0 [--check]" >&2; exit 2 ;;
esac

packages=(
  # toolchain
  g++ cmake ninja-build pkg-config clang libclang-rt-14-dev
  # libraries
  libssl-dev zlib1g-dev libsqlite3-dev libcurl4-openssl-dev libpugixml-dev libp11-kit-dev
  libmp3lame-dev libmpg123-dev
  # windows
  qt6-base-dev qt6-multimedia-dev qt6-svg-dev qt6-translations-l10n tango-icon-theme librsvg2-bin
  libx11-dev xdg-utils
  # tests and benchmarks
  googletest libgtest-dev libbenchmark-dev rhash libengine-gost-openssl openssl
  sqlite3 softhsm2 opensc xxd p11-kit-modules xvfb xauth fonts-dejavu-core fonts-liberation2
  poppler-utils  # pdftotext reads printed pages back
  # screenshots and driving windows by hand
  openbox xdotool
  # the audio tier of the tests (a private sound server)
  pulseaudio pulseaudio-utils
)

installed() {
  dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"
}

missing=()
for p in "${packages[@]}"; do
  installed "$p" || missing+=("$p")
done

if [[ -n "$check_only" ]]; then
  if ((${#missing[@]})); then
    echo "missing: ${missing[*]}"
    exit 1
  fi
  exit 0
fi

if ((${#missing[@]})); then
  echo "installing: ${missing[*]}"
  SUDO=""
  if [ "$(id -u)" != 0 ]; then SUDO=sudo; fi
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
  # A name apt accepted but dpkg does not know as installed would make
  # every later start install again.
  still=()
  for p in "${missing[@]}"; do
    installed "$p" || still+=("$p")
  done
  if ((${#still[@]})); then
    echo "not installed under these names: ${still[*]}; list the packages that provide them" >&2
    exit 1
  fi
fi
