#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for a few seconds
# (first argument, default 5). Longer runs: scripts/fuzz.sh 600.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-5}"

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz
corpus_root=build/fuzz/corpus
mkdir -p "$corpus_root"
status=0
for target in build/fuzz/bin/fuzz_*; do
  name=$(basename "$target")
  corpus="$corpus_root/$name"
  mkdir -p "$corpus"
  seeds="fuzz/seeds/$name"
  args=("$corpus")
  [ -d "$seeds" ] && args+=("$seeds")
  echo "fuzzing $name for ${seconds}s"
  if ! "$target" -max_total_time="$seconds" -print_final_stats=0 "${args[@]}" >"build/fuzz/$name.log" 2>&1; then
    echo "FAILED: $name (see build/fuzz/$name.log)"
    tail -40 "build/fuzz/$name.log"
    status=1
  fi
done
if [ $status = 0 ]; then echo "fuzz: all targets ran clean"; fi
exit $status
