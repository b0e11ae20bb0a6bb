#!/usr/bin/env bash
# The exchange server's figures, measured in one run on this machine:
#   - its peak resident memory while a 1 GiB mail is uploaded and downloaded,
#     the rates next to one hash pass over the same bytes, and a fast-mode
#     download (256 MiB) that the server enciphers as it sends it;
#   - logins per second with 1 and with 8 parallel clients, and their ratio;
#   - login latency while 64 slow connections and eight 255 MiB uploads run;
#   - login latency beside 2,000 connections sending a head byte every 100 ms;
#   - its resident memory over 100,000 logins and again once their sessions
#     ended, and over 100,000 handshakes that never log in.
# Builds the release preset first (QOVRA_BUILD_DIR=folder: an already
# configured build folder instead).
#
#   bench/server.sh [MiB of the mail, 1024] [seconds per login run, 4] [logins, 100000]
set -euo pipefail
cd "$(dirname "$0")/.."
targets=(--target bench_exchange_server exchange-server)
if [[ -n "${QOVRA_BUILD_DIR:-}" ]]; then
  build=$QOVRA_BUILD_DIR
  cmake --build "$build" "${targets[@]}" >/dev/null
else
  # A configured build folder keeps its settings (warnings as errors among them).
  [ -f build/release/CMakeCache.txt ] || cmake --preset release >/dev/null
  cmake --build --preset release "${targets[@]}" >/dev/null
  build=build/release
fi

echo "== exchange server (its own process; $(nproc) cores) =="
"$build/bin/bench_exchange_server" "${1:-1024}" "${2:-4}" "${3:-100000}"
