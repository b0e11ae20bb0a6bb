#!/usr/bin/env bash
# Renders chosen windows under Xvfb into PNG files, for review.
#
#   scripts/screenshots.sh <out folder> [window ...]
#
# Windows: msg-error msg-question msg-info msg-plain progress about menu main
# main-900x600 main-640x420 login
# password register forget-1 ... forget-4 chpass profile picker dupdialog addrbook
# compose settings-1 ... settings-5 (the settings dialog on each page) (all
# when none is named). QOVRA_PRESET picks the build (default:
# debug); the screenshots program is built first. QOVRA_LANGID picks the
# language file (0 Uzbek, 1 Russian; default 1). The windows run under a
# window manager (openbox) on the virtual display, as on a desktop.
set -euo pipefail
cd "$(dirname "$0")/.."

if [ $# -lt 1 ]; then
  echo "usage: $0 <out folder> [window ...]" >&2
  exit 2
fi
out=$1
shift
preset=${QOVRA_PRESET:-debug}

cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset" --target screenshots qelto_rcc >&2
mkdir -p "$out"
# Under the window manager: started first, given a moment to take the screen.
with_wm() {
  if command -v openbox >/dev/null; then
    xvfb-run -a -s "-screen 0 1280x800x24" \
      sh -c 'openbox >/dev/null 2>&1 & wm=$!; sleep 0.5; "$@"; rc=$?; kill $wm; exit $rc' sh "$@"
  else
    xvfb-run -a -s "-screen 0 1280x800x24" "$@"
  fi
}
with_wm env QT_QPA_PLATFORM=xcb ASAN_OPTIONS=detect_leaks=0 QOVRA_LANGID="${QOVRA_LANGID:-1}" \
  "build/$preset/bin/screenshots" --out "$out" "$@"
scripts/screenshots-controls.sh "$out"  # the gallery of the own controls: controls.png

# The certificate viewer on a certificate of a fresh test authority: jorvik.png
cmake --build --preset "$preset" --target jorvik keytool >&2
certs=$(mktemp -d)
trap 'rm -rf "$certs"' EXIT
"build/$preset/bin/keytool" authority --domain tests/fixtures/keys/domain.dom \
  --name "Qovra Test Authority" --out "$certs/ca" >/dev/null
"build/$preset/bin/keytool" cert --authority "$certs/ca" --pub tests/fixtures/keys/alice.pub \
  --name "Alice Example" --out "$certs/alice.cer" >/dev/null
xvfb-run -a -s "-screen 0 1280x800x24" \
  env QT_QPA_PLATFORM=xcb ASAN_OPTIONS=detect_leaks=0 \
  "build/$preset/bin/jorvik" "/l${QOVRA_LANGID:-1}" "$certs/alice.cer" --render "$out/jorvik.png" \
  >/dev/null
