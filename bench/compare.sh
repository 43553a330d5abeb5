#!/usr/bin/env bash
# Side-by-side cost of describing a file: the mediadetect process against
# ffprobe and mediainfo, and the module's open on a small and a 200 MB file.
# Usage: bench/compare.sh [SOURCE_FILE]   (default: the DVD sample of tests/data)
# The large files are made by repeating SOURCE_FILE into bench/out/ (git-ignored).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${BUILD_DIR:-$root/build}"
src="${1:-$root/tests/data/dvd_mpeg2video_720x576_16x9_25i_tff_ac3_48k_5.1.vob}"
out="$root/bench/out"
mkdir -p "$out"
ext="${src##*.}"

make_copy() {  # make_copy SIZE_MB NAME
    local target="$out/$2" size=$(( $1 * 1024 * 1024 ))
    if [ ! -f "$target" ] || [ "$(stat -c %s "$target")" -lt "$size" ]; then
        : > "$target"
        while [ "$(stat -c %s "$target")" -lt "$size" ]; do cat "$src" >> "$target"; done
    fi
    echo "$target"
}
small=$(make_copy 2 "small.$ext")
large=$(make_copy 200 "large.$ext")
cat "$large" > /dev/null  # warm the page cache

echo "== module open (open_bench): small vs large"
"$build/open_bench" --repeat 20 "$small" "$large"

for f in "$small" "$large"; do
    echo "== whole process on $(basename "$f") ($(stat -c %s "$f") bytes)"
    cmds=("$build/mediadetect $f")
    command -v ffprobe >/dev/null && cmds+=("ffprobe -v error -show_format -show_streams $f")
    command -v mediainfo >/dev/null && cmds+=("mediainfo --Output=JSON $f")
    if command -v hyperfine >/dev/null; then
        hyperfine -N --warmup 2 --runs 10 --style basic "${cmds[@]}" 2>&1 | grep -E 'Benchmark|Time|±|faster' || true
    fi
    for c in "${cmds[@]}"; do
        /usr/bin/time -f "peak RSS %M KiB, %e s: $c" $c > /dev/null 2> >(grep 'peak RSS' >&2) || true
    done
done
