#!/usr/bin/env bash
# Prints the table of a fuzz campaign from libFuzzer's logs:
#   fuzz/summary.sh BUILD_DIR TARGET...
# (BUILD_DIR/logs/<target>.log, crashes in BUILD_DIR/crashes/<target>/).
set -euo pipefail
dir=$1
shift
printf '%-22s %12s %8s %8s %8s %8s %8s\n' target executions seconds exec/s cov ft crashes
for t in "$@"; do
    log=$dir/logs/$t.log
    [ -f "$log" ] || continue
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
    rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -1)
    # A run that stopped on a crash prints no "Done" line: its time from the rate.
    secs=$(sed -n 's/^Done [0-9]* runs in \([0-9]*\) second.*/\1/p' "$log" | tail -1)
    if [ -z "$secs" ] && [ -n "$runs" ] && [ "${rate:-0}" -gt 0 ]; then
        secs=$((runs / rate))
    fi
    last=$(grep -E '^#[0-9]+.*cov: ' "$log" | tail -1 || true)
    cov=$(sed -n 's/.*cov: \([0-9]*\).*/\1/p' <<<"$last")
    ft=$(sed -n 's/.*ft: \([0-9]*\).*/\1/p' <<<"$last")
    crashes=$(find "$dir/crashes/$t" -type f 2>/dev/null | wc -l)
    printf '%-22s %12s %8s %8s %8s %8s %8s\n' "$t" "${runs:--}" "${secs:--}" "${rate:--}" "${cov:--}" "${ft:--}" \
        "$crashes"
done
