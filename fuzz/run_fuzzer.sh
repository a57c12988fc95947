#!/usr/bin/env bash
# Runs one fuzz target for a bounded time: FUZZER SEEDS WORK SECONDS. New inputs it finds go to
# WORK/corpus (the seeds in the repository stay as they are), a crashing input to WORK as
# crash-*, leak-*, timeout-* or oom-*. Fails when the target failed.
set -euo pipefail
fuzzer=$1 seeds=$2 work=$3 seconds=${MORVIL_FUZZ_SECONDS:-$4}
mkdir -p "$work/corpus"
log="$work/fuzz.log"
status=0
"$fuzzer" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -malloc_limit_mb=1024 \
  -max_len=8192 -print_final_stats=1 -artifact_prefix="$work/" "$work/corpus" "$seeds" \
  >"$log" 2>&1 || status=$?
# The figures: runs, time, corpus size and coverage reached.
grep -E "^Done [0-9]+ runs|stat::number_of_executed_units|stat::peak_rss_mb|INITED|DONE" "$log" |
  tail -n 4 || true
if [ "$status" -ne 0 ]; then
  tail -n 60 "$log"
  echo "fuzz target $(basename "$fuzzer") failed; input kept in $work"
fi
exit "$status"
