#!/usr/bin/env bash
# Where a mediadetect process spends its time before and after the work: the
# whole process on an empty file (the module loaded, no plugin), on a small
# Matroska file (the Matroska plugin with libebml, libmatroska and libstdc++
# loaded too) and on a small program stream, beside /bin/true; then the dynamic
# loader's own count of relocations and time for each case.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${BUILD_DIR:-$root/build}"
empty="$root/bench/out/empty"
mkdir -p "$root/bench/out" && : > "$empty"
mkv="$root/tests/data/mkv_h264_640x360_25fps_aac_48k_stereo.mkv"
vob="$root/tests/data/dvd_mpeg2video_720x576_16x9_25i_tff_ac3_48k_5.1.vob"
hyperfine -N --warmup 10 --runs 200 --style basic /bin/true "$build/mediadetect $empty" \
    "$build/mediadetect $vob" "$build/mediadetect $mkv" 2>&1 | grep -E 'Benchmark|Time'
for f in "$empty" "$vob" "$mkv"; do
    echo "== loader statistics, $(basename "$f")"
    LD_DEBUG=statistics "$build/mediadetect" "$f" 2>&1 >/dev/null |
        grep -E 'total startup time|final number of relocations:' | sed 's/^ *[0-9]*: *//'
done
