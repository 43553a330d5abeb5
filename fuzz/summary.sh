#!/usr/bin/env bash
# Prints the table of a fuzz campaign from libFuzzer's logs:
#   fuzz/summary.sh BUILD_DIR TARGET...
# Executions and seconds are summed over the target's runs (BUILD_DIR/logs/<target>.<n>.log);
# coverage and features are those of its last run; crashes are the files in BUILD_DIR/crashes/<target>/.
#   fuzz/summary.sh --totals BUILD_DIR TARGET   prints "executions seconds" of one target
set -euo pipefail

totals() {  # totals DIR TARGET: executions and seconds over the target's runs
    local runs=0 secs=0 log r s rate status
    for log in "$1/logs/$2".*.log; do
        [ -f "$log" ] || continue
        r=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
        rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -1)
        s=$(sed -n 's/^Done [0-9]* runs in \([0-9]*\) second.*/\1/p' "$log" | tail -1)
        # A killed run prints no final stats: its last status line gives executions and rate.
        if [ -z "$r" ]; then
            status=$( (grep -E '^#[0-9]+.*exec/s: ' "$log" || true) | tail -1)
            r=$(sed -n 's/^#\([0-9]*\).*/\1/p' <<<"$status")
            rate=$(sed -n 's/.*exec\/s: \([0-9]*\).*/\1/p' <<<"$status")
        fi
        # A run that stopped on a crash (or was killed) prints no "Done" line: its time from the rate.
        if [ -z "$s" ] && [ -n "$r" ] && [ "${rate:-0}" -gt 0 ]; then
            s=$((r / rate))
        fi
        runs=$((runs + ${r:-0}))
        secs=$((secs + ${s:-0}))
    done
    echo "$runs $secs"
}

if [ "$1" = --totals ]; then
    totals "$2" "$3"
    exit 0
fi
dir=$1
shift
printf '%-22s %12s %8s %8s %8s %8s %8s\n' target executions seconds exec/s cov ft crashes
for t in "$@"; do
    last=$( (ls -v "$dir/logs/$t".*.log 2>/dev/null || true) | tail -1)
    [ -n "$last" ] || continue
    read -r runs secs < <(totals "$dir" "$t")
    line=$(grep -E '^#[0-9]+.*cov: ' "$last" | tail -1 || true)
    cov=$(sed -n 's/.*cov: \([0-9]*\).*/\1/p' <<<"$line")
    ft=$(sed -n 's/.*ft: \([0-9]*\).*/\1/p' <<<"$line")
    crashes=$( (find "$dir/crashes/$t" -type f 2>/dev/null || true) | wc -l)
    printf '%-22s %12s %8s %8s %8s %8s %8s\n' "$t" "$runs" "$secs" "$((runs / (secs > 0 ? secs : 1)))" \
        "${cov:--}" "${ft:--}" "$crashes"
done
