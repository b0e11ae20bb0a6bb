#!/usr/bin/env bash
# Signature checks and signing next to `openssl speed dsa1024`, and the mail
# list at 400,000 mails, measured in one run on this machine.
#
#   bench/verify_and_list.sh [build folder] [mails]
#
# Without a build folder the release preset is configured and its two
# benchmarks built. The signature ratios come from
# bench/signature_vs_openssl.sh over ROUNDS (3) rounds.
set -euo pipefail
cd "$(dirname "$0")/.."
if [ $# -ge 1 ] && [ -n "$1" ]; then
  bin="$1/bin"
else
  # A configured build folder keeps its settings (warnings as errors among them).
  [ -f build/release/CMakeCache.txt ] || cmake --preset release >/dev/null
  cmake --build --preset release --target bench_signature bench_mail_list >/dev/null
  bin=build/release/bin
fi
mails=${2:-400000}
rounds=${ROUNDS:-3}

echo "== signature (1024-bit modulus, 256-bit exponents) vs openssl speed dsa1024 =="
ROUNDS=$rounds bench/signature_vs_openssl.sh "$bin"

echo "== mail list at $mails mails =="
list=$("$bin/bench_mail_list" "$mails")
sort_ms=$(awk -F': ' '$1 == "slowest sort overall" {print $2 + 0}' <<<"$list")
search_ms=$(awk -F': ' '$1 == "slowest search step overall" {print $2 + 0}' <<<"$list")
per_row=$(awk -F': ' '$1 == "memory per row" {print $2 + 0}' <<<"$list")
printf 'list sort (slowest column and order): %.1f ms  (target < 400 ms)\n' "$sort_ms"
printf 'search step (slowest): %.2f ms  (target < 50 ms)\n' "$search_ms"
printf 'memory per row: %.3f KiB  (target < 0.6 KiB)\n' "$per_row"
