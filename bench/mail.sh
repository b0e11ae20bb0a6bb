#!/usr/bin/env bash
# Large mail at the speed of the machine, measured in one run: sending and
# receiving next to the hash alone over the same container (ratios), the
# client's peak memory from the process itself, and ten receives in one
# process. Then the exchange server's figures (bench/server.sh) and the
# signature and mail-list figures (bench/verify_and_list.sh) when those
# scripts are there. Builds the release preset first.
#
#   bench/mail.sh            (QOVRA_BENCH_MIB=1024: size of the client pass)
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --preset release >/dev/null
cmake --build --preset release --target bench_mail_stream bench_mail_exchange >/dev/null
bin=build/release/bin
mib=${QOVRA_BENCH_MIB:-1024}

echo "== client: sending and receiving a ${mib} MiB attachment, one recipient, no network (best of 3) =="
echo "   targets: send >= 0.80x hash, receive >= 0.70x hash, peak growth < 16 MiB"
"$bin/bench_mail_stream" "$mib"
echo "== through the local exchange server over loopback, 100 MiB (the server's time included) =="
"$bin/bench_mail_exchange" 100
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
