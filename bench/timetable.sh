#!/usr/bin/env bash
# The time table's speed and memory on a 200 MB DVD-style program stream (the
# DVD sample repeated, kept in bench/out/large.vob) read from the page cache:
# `mediadetect --time-table` timed with hyperfine, its peak RSS, the rate in
# GiB/s, and a `mediadetect seek` answered from the stored table.
# Usage: bench/timetable.sh [FILE]   FILE instead of the generated stream
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${BUILD_DIR:-$root/build}"
tool="$build/mediadetect"
out="$root/bench/out"
mkdir -p "$out"
[ -x "$tool" ] || { echo "build first: $tool is missing" >&2; exit 1; }

file="${1:-$out/large.vob}"
if [ $# -eq 0 ] && { [ ! -f "$file" ] || [ "$(stat -c %s "$file")" -lt 209715200 ]; }; then
    src="$root/tests/data/dvd_mpeg2video_720x576_16x9_25i_tff_ac3_48k_5.1.vob"
    : > "$file"
    while [ "$(stat -c %s "$file")" -lt 209715200 ]; do cat "$src" >> "$file"; done
fi
size=$(stat -c %s "$file")
cat "$file" > /dev/null  # warm the page cache

# A registry and a time-index store of this run only.
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
export MEDIADETECT_REGISTRY="$tmp/registry.reg" MEDIADETECT_TIMEINDEX_DB="$tmp/timeindex.sqlite"
"$tool" register

echo "== mediadetect --time-table $(basename "$file") ($size bytes)"
"$tool" --time-table "$file" | sed -n 's/^ *index *//p'
hyperfine -N --warmup 2 --runs 10 --style basic --export-json "$tmp/tt.json" \
    "$tool --time-table $file" 2>&1 | grep -E 'Time|Range'
python3 - "$tmp/tt.json" "$size" <<'PY'
import json, sys
r = json.load(open(sys.argv[1]))["results"][0]
size = int(sys.argv[2]) / 2**30
print(f"rate: {size / r['mean']:.2f} GiB/s mean, {size / r['min']:.2f} GiB/s best "
      f"(cpu: user {r['user'] * 1000:.0f} ms, system {r['system'] * 1000:.0f} ms)")
PY
/usr/bin/time -f "peak RSS %M KiB" "$tool" --time-table "$file" 2>&1 >/dev/null | grep 'peak RSS'

echo "== mediadetect seek (stored table) against mediadetect --help (process start alone)"
"$tool" seek --json "$file" 30
hyperfine -N --warmup 3 --runs 30 --style basic "$tool seek $file 30" "$tool --help" 2>&1 | grep -E 'Benchmark|Time|Range'
