#!/usr/bin/env bash
# Signature checks and signing next to `openssl speed dsa1024`, in ROUNDS
# (default 3) alternating rounds of ours and openssl's, since a busy
# machine moves both; prints every round and the medians of the ratios.
# Our exponents are 256-bit, DSA-1024's 160-bit.
#
#   bench/signature_vs_openssl.sh BIN_FOLDER
set -euo pipefail
cd "$(dirname "$0")/.."
bin="$1"
rounds=${ROUNDS:-3}

median() { sort -g | awk '{v[NR] = $1} END {print v[int((NR + 1) / 2)]}'; }
rate() { awk -v k="$1" -F': ' '$1 == k {print $2 + 0}'; }

first="" cached="" sign=""
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
printf 'sign / openssl sign: %.2fx  (target >= 1.6x, median of %d rounds)\n' \
  "$(printf '%s' "$sign" | median)" "$rounds"
