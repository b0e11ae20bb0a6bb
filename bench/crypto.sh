#!/usr/bin/env bash
# The library's figures next to the reference tools, measured in one run.
# Builds the release preset first.
set -euo pipefail
cd "$(dirname "$0")/.."
# A configured build folder keeps its settings (warnings as errors among them).
[ -f build/release/CMakeCache.txt ] || cmake --preset release >/dev/null
cmake --build --preset release >/dev/null
bin=build/release/bin

echo "== hash (256 MiB) =="
bash bench/hash_vs_rhash.sh "$bin/bench_hash"
echo "== block cipher CBC (256 MiB) =="
bash bench/cipher_vs_openssl_gost.sh "$bin/bench_cipher"
echo "== signature and key agreement (1024-bit modulus, 256-bit order) =="
"$bin/bench_signature" tests/fixtures/keys 2
echo "-- openssl speed dsa1024 (160-bit exponents), same run --"
openssl speed -seconds 2 dsa1024 2>/dev/null | tail -2
