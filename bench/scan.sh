#!/usr/bin/env bash
# Whole-library scan: `mediadetect scan --jobs 2` over a folder of 10,000 files
# (the samples of tests/data, hard-linked or copied over and over into
# bench/out/scan10k), side by side with `mediainfo --Output=JSON` on the folder
# and a loop of ffprobe processes, one per file (timed on the first
# $FFPROBE_FILES files, default 300, and given per file: a loop over all 10,000
# would take most of an hour).
# Usage: bench/scan.sh [FILES]   (default 10000; fewer for a quick run)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${BUILD_DIR:-$root/build}"
count="${1:-10000}"
dir="$root/bench/out/scan$count"
samples=()
for f in "$root"/tests/data/*; do
    case "$f" in *.sh|*.md) continue ;; esac
    [ -f "$f" ] && samples+=("$f")
done
if [ ! -d "$dir" ] || [ "$(find "$dir" -type f | wc -l)" -ne "$count" ]; then
    rm -rf "$dir" && mkdir -p "$dir"
    for ((i = 0; i < count; i++)); do
        src="${samples[i % ${#samples[@]}]}"
        ln "$src" "$dir/$i-${src##*/}" 2>/dev/null || cp "$src" "$dir/$i-${src##*/}"
    done
fi
cat "$dir"/* > /dev/null  # warm the page cache
echo "== $count files, $(find "$dir" -type f -printf '%s\n' | awk '{ s += $1 } END { printf "%.0f MB", s / 1e6 }')"

timed() {  # timed LABEL FILES COMMAND...: wall time, files per second and peak RSS of one run
    local label="$1" n="$2" start end
    shift 2
    start=$(date +%s.%N)
    /usr/bin/time -f "%M" -o "$root/bench/out/rss" "$@" > /dev/null 2>&1 || true
    end=$(date +%s.%N)
    awk -v l="$label" -v s="$start" -v e="$end" -v n="$n" -v rss="$(cat "$root/bench/out/rss")" \
        'BEGIN { printf "%-40s %8.2f s %9.0f files/s  peak RSS %d KiB\n", l, e - s, n / (e - s), rss }'
}
timed "mediadetect scan --jobs 2" "$count" "$build/mediadetect" scan --jobs 2 "$dir"
timed "mediadetect scan --jobs 2 --json" "$count" "$build/mediadetect" scan --jobs 2 --json "$dir"
command -v mediainfo >/dev/null && timed "mediainfo --Output=JSON (folder)" "$count" mediainfo --Output=JSON "$dir"
if command -v ffprobe >/dev/null; then
    n=$(( ${FFPROBE_FILES:-300} < count ? ${FFPROBE_FILES:-300} : count ))
    timed "ffprobe loop, first $n files" "$n" sh -c \
        'ls -U "$1" | head -n "$2" | while read -r f; do ffprobe -v error -show_format -show_streams "$1/$f"; done' \
        sh "$dir" "$n"
fi
