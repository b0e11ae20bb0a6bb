#!/usr/bin/env bash
# Signature checks and signing next to `openssl speed dsa1024`, and the mail
# list at 400,000 mails, measured in one run on this machine.
#
#   bench/verify_and_list.sh [build folder] [mails]
#
# Without a build folder the release preset is configured and its two
# benchmarks built. The signature ratios are taken in ROUNDS (3) alternating
# rounds of ours and openssl's, and their median is printed, since a busy
# machine moves both. Our exponents are 256-bit, DSA-1024's 160-bit.
set -euo pipefail
cd "$(dirname "$0")/.."
if [ $# -ge 1 ] && [ -n "$1" ]; then
  bin="$1/bin"
else
  cmake --preset release >/dev/null
  cmake --build --preset release --target bench_signature bench_mail_list >/dev/null
  bin=build/release/bin
fi
mails=${2:-400000}
rounds=${ROUNDS:-3}

median() { sort -g | awk '{v[NR] = $1} END {print v[int((NR + 1) / 2)]}'; }
rate() { awk -v k="$1" -F': ' '$1 == k {print $2 + 0}'; }

first="" cached="" sign=""
echo "== signature (1024-bit modulus, 256-bit exponents) vs openssl speed dsa1024 =="
for ((i = 1; i <= rounds; i++)); do
  ours=$("$bin/bench_signature" tests/fixtures/keys 1)
  ssl=$(openssl speed -seconds 1 dsa1024 2>/dev/null | awk '/^dsa 1024 bits/ {print $6, $7}')
  read -r ssl_sign ssl_verify <<<"$ssl"
  o_first=$(rate "verify (first-seen signer)" <<<"$ours")
  o_cached=$(rate "verify (cached signer)" <<<"$ours")
  o_sign=$(rate "sign" <<<"$ours")
  printf 'round %d: verify/s first-seen %s, cached %s, openssl %s; sign/s %s, openssl %s\n' \
    "$i" "$o_first" "$o_cached" "$ssl_verify" "$o_sign" "$ssl_sign"
  first+="$(awk -v a="$o_first" -v b="$ssl_verify" 'BEGIN {print a / b}')"$'\n'
  cached+="$(awk -v a="$o_cached" -v b="$ssl_verify" 'BEGIN {print a / b}')"$'\n'
  sign+="$(awk -v a="$o_sign" -v b="$ssl_sign" 'BEGIN {print a / b}')"$'\n'
done
printf 'verify, signer seen first  / openssl verify: %.2fx  (target >= 1.0x)\n' \
  "$(printf '%s' "$first" | median)"
printf 'verify, signer tables cached / openssl verify: %.2fx\n' "$(printf '%s' "$cached" | median)"
printf 'sign / openssl sign: %.2fx  (must not drop)\n' "$(printf '%s' "$sign" | median)"

echo "== mail list at $mails mails =="
list=$("$bin/bench_mail_list" "$mails")
sort_ms=$(awk -F': ' '$1 == "slowest sort overall" {print $2 + 0}' <<<"$list")
search_ms=$(awk -F': ' '$1 == "slowest search step overall" {print $2 + 0}' <<<"$list")
per_row=$(awk -F': ' '$1 == "memory per row" {print $2 + 0}' <<<"$list")
printf 'list sort (slowest column and order): %.1f ms  (target < 400 ms)\n' "$sort_ms"
printf 'search step (slowest): %.2f ms  (target < 50 ms)\n' "$search_ms"
printf 'memory per row: %.3f KiB  (target < 0.6 KiB)\n' "$per_row"
