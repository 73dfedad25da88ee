#!/usr/bin/env bash
# Runs every libFuzzer target of build/fuzz for a bounded time each.
# Usage: scripts/fuzz.sh [SECONDS]   (longer runs: scripts/fuzz.sh 3600)
set -uo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-20}
status=0
shopt -s nullglob
targets=(build/fuzz/fuzz_*)
if [ ${#targets[@]} -eq 0 ]; then echo "no fuzz targets built"; exit 0; fi
for t in "${targets[@]}"; do
  [ -x "$t" ] || continue
  name=$(basename "$t")
  corpus=build/fuzz/corpus/$name
  mkdir -p "$corpus"
  seeds=()
  [ -d "tests/fuzz/corpus_${name#fuzz_}" ] && seeds+=("tests/fuzz/corpus_${name#fuzz_}")
  # The engine's readers start from real Access files.
  if [ "$name" = fuzz_reader ] && [ -d ../shared/fixtures/mdb ]; then seeds+=(../shared/fixtures/mdb); fi
  echo "--- $name for ${seconds}s"
  # A 1 MB stack, as the program's main thread has on Windows: deep input
  # must be refused, not overflow it.
  if ! (ulimit -s 1024 && exec "$t" -max_total_time="$seconds" -rss_limit_mb=2048 -timeout=10 -max_len=1048576 \
      -print_final_stats=0 "$corpus" "${seeds[@]}") 2>build/fuzz/$name.log; then
    echo "$name found a fault:"; tail -40 build/fuzz/$name.log; status=1
  else
    grep -E '^(#[0-9]+\s+DONE|Done)' build/fuzz/$name.log | tail -1
  fi
done
exit $status
