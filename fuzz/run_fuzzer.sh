#!/usr/bin/env bash
# Runs one libFuzzer target for a bounded time, starting from the committed
# seed corpus (which is left as it is), and prints how many inputs it tried.
#   run_fuzzer.sh FUZZER SEED_CORPUS SECONDS
set -euo pipefail
fuzzer=$1 seeds=$2 seconds=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/corpus"
# Crashing inputs land next to the fuzzer, where a failed run can be replayed
# with: FUZZER crash-FILE
artifacts=$(dirname "$fuzzer")/artifacts/
mkdir -p "$artifacts"
seed=${KORIMBA_FUZZ_SEED:-$(od -An -N4 -tu4 /dev/urandom | tr -d ' ')}
echo "fuzzing $(basename "$fuzzer") for ${seconds}s, seed $seed (replay with KORIMBA_FUZZ_SEED=$seed)"
status=0
"$fuzzer" -seed="$seed" -max_total_time="$seconds" -max_len=1024 -timeout=10 -print_final_stats=1 \
  -artifact_prefix="$artifacts" "$work/corpus" "$seeds" >"$work/log" 2>&1 || status=$?
grep -E '^(stat::number_of_executed_units|stat::new_units_added|Done )' "$work/log" || true
if [ "$status" -ne 0 ]; then
  tail -n 40 "$work/log"
  echo "FAIL: $(basename "$fuzzer") exited with $status"
  exit 1
fi
