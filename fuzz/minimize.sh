#!/usr/bin/env bash
# Minimizes a campaign's corpora into the committed ones:
#   fuzz/minimize.sh BUILD_DIR TARGET...
# For each target, libFuzzer's merge keeps the inputs of BUILD_DIR/corpus/<target>
# (and of the committed fuzz/campaign/<target>) that add coverage features, the
# smallest first. A merge larger than the budget is redone over the inputs up to
# half the length, until it fits: the committed corpus stays small, and CTest
# replays it as it is.
set -euo pipefail
dir=$1
shift
budget=$((2 * 1024 * 1024))
for t in "$@"; do
    out=fuzz/campaign/$t
    pool=$(mktemp -d)
    cp "$dir/corpus/$t"/* "$pool/" 2>/dev/null || true
    [ -d "$out" ] && cp "$out"/* "$pool/" 2>/dev/null || true
    limit=65536
    while :; do
        merged=$(mktemp -d)
        filtered=$(mktemp -d)
        find "$pool" -type f -size -$((limit + 1))c -exec cp {} "$filtered/" \;
        "$dir/$t" -merge=1 -rss_limit_mb=512 -timeout=5 "$merged" "$filtered" >/dev/null 2>&1
        rm -rf "$filtered"
        bytes=$(du -sb "$merged" | cut -f1)
        [ "$bytes" -le "$budget" ] || [ "$limit" -le 256 ] && break
        rm -rf "$merged"
        limit=$((limit / 2))
    done
    rm -rf "$out" "$pool"
    mkdir -p "$out"
    mv "$merged"/* "$out/" 2>/dev/null || true
    rmdir "$merged"
    echo "$t: $(ls "$out" | wc -l) inputs, $(du -sb "$out" | cut -f1) bytes (inputs up to $limit bytes)"
done
