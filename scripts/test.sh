#!/usr/bin/env bash
# Installs what is needed, builds and runs every test.
#   scripts/test.sh            release build, all tests, then the fuzz smoke run
#   scripts/test.sh asan       ASan + UBSan build and its tests
set -euo pipefail
cd "$(dirname "$0")/.."
preset="${1:-release}"

scripts/install-deps.sh
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset"
ctest --preset "$preset"

if [ "$preset" = release ]; then
  scripts/fuzz.sh "${QOVRA_FUZZ_SECONDS:-5}"
fi
