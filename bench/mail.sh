#!/usr/bin/env bash
# Large mail at the speed of the machine, measured in one run: sending and
# receiving next to the hash alone over the same container (ratios), the
# client's peak memory from the process itself, and ten receives in one
# process. Then the exchange server's figures (bench/server.sh) and the
# signature and mail-list figures (bench/verify_and_list.sh) when those
# scripts are there. Ends with the whole trips through the local exchange
# server (best of TRIPS runs) and signing (median of SIGN_ROUNDS rounds),
# each as a ratio to its reference next to its target. Builds the release
# preset first.
#
#   bench/mail.sh            (QOVRA_BENCH_MIB=1024: size of the client pass;
#                             TRIPS=3, SIGN_ROUNDS=12)
set -euo pipefail
cd "$(dirname "$0")/.."
# A configured build folder keeps its settings (warnings as errors among them).
[ -f build/release/CMakeCache.txt ] || cmake --preset release >/dev/null
cmake --build --preset release --target bench_mail_stream bench_mail_exchange bench_signature \
  >/dev/null
bin=build/release/bin
mib=${QOVRA_BENCH_MIB:-1024}
trips=${TRIPS:-3}
sign_rounds=${SIGN_ROUNDS:-12}

echo "== client: sending and receiving a ${mib} MiB attachment, no network (best of 3) =="
echo "   targets: send >= 0.80x hash, receive >= 0.70x hash, peak growth < 16 MiB"
"$bin/bench_mail_stream" "$mib"

# The ratio printed for step (a line's start) in a run of bench_mail_exchange.
ratio_of() { awk -v step="$1" 'index($0, step) == 1 && match($0, /[0-9.]+x hash/) {
  print substr($0, RSTART, RLENGTH - 6); exit }'; }
best_of() { sort -g | tail -1; }

echo "== through the local exchange server over loopback, 100 MiB (the server's time included) =="
receive="" send1="" send3=""
for ((i = 1; i <= trips; i++)); do
  run=$("$bin/bench_mail_exchange" 100)
  if [ "$i" -eq 1 ]; then
    echo "$run"
  fi
  receive+="$(ratio_of "receive, bob@" <<<"$run")"$'\n'
  send1+="$(ratio_of "send secure, 1 recipient" <<<"$run")"$'\n'
  send3+="$(ratio_of "send secure, 3 recipients" <<<"$run")"$'\n'
done
echo "== ten receives of a 100 MiB mail in one process =="
echo "   target: the last peak where the first one left it"
"$bin/bench_mail_exchange" 100 receives 10

if [ -x bench/server.sh ]; then
  echo "== exchange server =="
  bench/server.sh
fi
if [ -x bench/verify_and_list.sh ]; then
  echo "== signature verification and the mail list =="
  bench/verify_and_list.sh
fi

echo "== signing next to openssl speed dsa1024, $sign_rounds rounds =="
signing=$(ROUNDS=$sign_rounds bench/signature_vs_openssl.sh "$bin")
echo "$signing"
sign=$(awk -F': ' '$1 == "sign / openssl sign" {print $2 + 0}' <<<"$signing")

echo "== the whole trip, 100 MiB through the local exchange server (best of $trips), and signing =="
printf '%-40s %5.2fx the hash alone   (target >= 0.8x)\n' "receive" \
  "$(printf '%s' "$receive" | best_of)"
printf '%-40s %5.2fx the hash alone   (target >= 0.9x)\n' "send, one recipient" \
  "$(printf '%s' "$send1" | best_of)"
printf '%-40s %5.2fx the hash alone   (target >= 0.8x)\n' "send, three recipients (secure mode)" \
  "$(printf '%s' "$send3" | best_of)"
printf '%-40s %5.2fx openssl speed dsa1024 (target >= 1.6x, median of %d rounds)\n' \
  "signing per second" "$sign" "$sign_rounds"
