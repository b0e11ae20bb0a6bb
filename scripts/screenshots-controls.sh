#!/usr/bin/env bash
# Renders the gallery of the program's own controls under Xvfb into PNG.
#
#   scripts/screenshots-controls.sh <out folder>
#
# Writes controls.png and controls-screen.png. QOVRA_PRESET picks the build
# (default: debug); the gallery is built first.
set -euo pipefail
cd "$(dirname "$0")/.."

if [ $# -ne 1 ]; then
  echo "usage: $0 <out folder>" >&2
  exit 2
fi
out=$1
preset=${QOVRA_PRESET:-debug}

cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset" --target controls-gallery >&2
mkdir -p "$out"
xvfb-run -a -s "-screen 0 1280x800x24" \
  env QT_QPA_PLATFORM=xcb ASAN_OPTIONS=detect_leaks=0 \
  "build/$preset/bin/controls-gallery" --out "$out"
