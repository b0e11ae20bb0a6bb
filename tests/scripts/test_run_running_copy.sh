#!/usr/bin/env bash
# scripts/run.sh while a copy of qovra already runs for the user: it says so,
# naming the copy's process, exits 0 at once, makes no demo folder and leaves
# the settings file beside the program as it was. The copy is stood in for by
# a process that holds the instance lock, in a private runtime folder given
# with and without a trailing "/".
set -u
script="$1"
root=$(cd "$(dirname "$script")/.." && pwd)
settings="$root/build/release/bin/qovra.xml"
uid=$(id -u)

work=$(mktemp -d)
holder=
cleanup() {
  [[ -n $holder ]] && kill "$holder" 2>/dev/null
  wait 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

runtime="$work/runtime"
mkdir -m 0700 "$runtime" "$work/tmp"
lock="$runtime/SENTAVRO-$uid.lock"
# One process that takes the lock and keeps it, as a running copy does.
perl -e 'use Fcntl qw(:flock); open(my $f, ">", $ARGV[0]) or die; flock($f, LOCK_EX) or die;
         sleep 120' "$lock" </dev/null >/dev/null 2>&1 &
holder=$!
for _ in $(seq 50); do
  lslocks --noheadings --raw --output PATH 2>/dev/null | grep -qxF "$lock" && break
  sleep 0.1
done

settings_before=$( [[ -e $settings ]] && sha256sum <"$settings" || echo absent)

failed=0
for given in "$runtime" "$runtime/"; do
  err=$(DISPLAY=:98 XDG_RUNTIME_DIR="$given" TMPDIR="$work/tmp" \
    timeout 60 bash "$script" 2>&1 >/dev/null)
  status=$?
  if ((status != 0)); then
    echo "FAIL ($given): exit $status: $err"
    failed=1
  fi
  if [[ $err != *"already runs"*"process $holder"* ]]; then
    echo "FAIL ($given): no word of the running copy: $err"
    failed=1
  fi
  if [[ -n $(ls -A "$work/tmp") ]]; then
    echo "FAIL ($given): a demo folder was made: $(ls -A "$work/tmp")"
    failed=1
  fi
  settings_after=$( [[ -e $settings ]] && sha256sum <"$settings" || echo absent)
  if [[ $settings_after != "$settings_before" ]]; then
    echo "FAIL ($given): the settings beside the program changed"
    failed=1
  fi
done
((failed)) && exit 1
echo "the running copy is named and nothing is touched"
