#!/bin/sh
# CBC throughput of our block cipher next to GOST 28147-89 CBC from OpenSSL's
# gost engine (Debian package libengine-gost-openssl).
# Usage: bench/cipher_vs_openssl_gost.sh [path/to/bench_cipher] [MiB]
set -u

here=$(cd "$(dirname "$0")" && pwd)
bench=${1:-$here/../build/release/bin/bench_cipher}
mib=${2:-256}

tmp=$(mktemp -d) || exit 1
trap 'rm -rf "$tmp"' EXIT INT TERM

# Prints "<MB/s>" from an `openssl speed` run, or nothing when it failed.
speed_mbs() {
  openssl speed "$@" -seconds 2 -bytes 16384 >"$tmp/speed" 2>&1 || return 0
  awk '$1 == "gost89-cbc" { v = $NF; sub(/k$/, "", v); printf "%.1f\n", v / 1000 }' "$tmp/speed"
}

gost_enc=""
gost_dec=""
how=""
# The engine through the EVP interface; OpenSSL 3 `speed` often cannot fetch
# engine ciphers, the provider build of the same package can.
for opts in "-engine gost" "-provider gostprov -provider default"; do
  # shellcheck disable=SC2086
  gost_enc=$(speed_mbs $opts -evp gost89-cbc)
  if [ -n "$gost_enc" ]; then
    # shellcheck disable=SC2086
    gost_dec=$(speed_mbs $opts -decrypt -evp gost89-cbc)
    how="openssl speed $opts -evp gost89-cbc"
    break
  fi
done

# Last resort: time `openssl enc` with the engine over a file.
if [ -z "$gost_enc" ]; then
  head -c $((mib * 1048576)) /dev/zero >"$tmp/in"
  key=00112233445566778899aabbccddeeff00112233445566778899aabbccddeeff
  run_enc() {
    openssl enc -engine gost -gost89-cbc -nopad -K "$key" -iv 0011223344556677 "$@" \
      -in "$tmp/in" -out /dev/null >/dev/null 2>&1
  }
  if run_enc; then
    for dir in -e -d; do
      start=$(date +%s.%N)
      run_enc "$dir"
      end=$(date +%s.%N)
      mbs=$(awk -v s="$start" -v e="$end" -v m="$mib" 'BEGIN { printf "%.1f", m * 1.048576 / (e - s) }')
      if [ "$dir" = -e ]; then gost_enc=$mbs; else gost_dec=$mbs; fi
    done
    how="openssl enc -engine gost -gost89-cbc (timed, includes file reading)"
  fi
fi

if [ -n "$gost_enc" ]; then
  echo "gost89 cbc encrypt (openssl gost engine): $gost_enc MB/s"
  echo "gost89 cbc decrypt (openssl gost engine): ${gost_dec:-?} MB/s"
  echo "  measured with: $how"
else
  echo "the OpenSSL gost engine did not load: no GOST 28147-89 figures"
  echo "  (install libengine-gost-openssl; 'openssl engine gost -c' must list gost89-cbc)"
fi

if [ -x "$bench" ]; then
  "$bench" "$mib"
else
  echo "bench_cipher not found at $bench (build the release preset first)"
  exit 1
fi
