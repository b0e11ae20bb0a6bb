#!/usr/bin/env bash
# Hash throughput of bench_hash next to rhash's GOST R 34.11-94 CryptoPro hash
# on a 256 MiB file, measured in the same run. Builds nothing.
# Usage: hash_vs_rhash.sh path/to/bench_hash
set -euo pipefail
bench=${1:?usage: $0 path/to/bench_hash}

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
size=$((256 * 1024 * 1024))
head -c "$size" /dev/urandom >"$tmp/data"

"$bench"

# Best of three, as the bench does.
best=""
for _ in 1 2 3; do
  start=$(date +%s.%N)
  rhash --gost94-cryptopro "$tmp/data" >/dev/null
  end=$(date +%s.%N)
  best=$(awk -v s="$start" -v e="$end" -v b="$best" 'BEGIN { t = e - s; print (b == "" || t < b) ? t : b }')
done
awk -v n="$size" -v t="$best" 'BEGIN { printf "rhash: %.1f MB/s (256 MiB)\n", n / t / 1e6 }'
