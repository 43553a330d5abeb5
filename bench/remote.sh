#!/usr/bin/env bash
# Remote files: requests, bytes fetched and wall time of `mediadetect URL`, `ffprobe URL` and `mediainfo URL` side
# by side, for 200 MB files served by nginx (tests/remote/nginx_fixture.py) behind a proxy that adds a 20 ms round
# trip and caps the link at 200 Mbit/s (bench/remote_bench.py). Prints a markdown table.
# Usage: bench/remote.sh [--runs N]      (default 3 runs per tool and file, the median wall time)
# The files are made in bench/out/ (git-ignored) the first time, as compare.sh makes them: the DVD and transport
# samples repeated to 200 MB, and 60 s of 720p H.264 with AAC looped by stream copy to over 200 MB, as MP4 with its
# 'moov' last (ffmpeg's default), as MP4 with its 'moov' first (-movflags +faststart) and as Matroska.
# BENCH_OUT overrides the folder (e.g. another worktree's bench/out, to reuse its files).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${BUILD_DIR:-$root/build}"
out="${BENCH_OUT:-$root/bench/out}"
mkdir -p "$out"
for tool in ffmpeg nginx openssl; do
    command -v "$tool" >/dev/null || [ -x "/usr/sbin/$tool" ] || { echo "remote.sh: $tool is missing (./dev bench installs it)" >&2; exit 1; }
done

make_copy() {  # make_copy SOURCE NAME: SOURCE repeated to at least 200 MiB
    local target="$out/$2" size=$(( 200 * 1024 * 1024 ))
    if [ ! -f "$target" ] || [ "$(stat -c %s "$target")" -lt "$size" ]; then
        : > "$target"
        while [ "$(stat -c %s "$target")" -lt "$size" ]; do cat "$1" >> "$target"; done
    fi
    echo "$target"
}

make_h264() {  # make_h264 EXT: 60 s of 720p25 H.264 with AAC, then 5 loops of it by stream copy
    local small="$out/$1_60s.$1" large="$out/$1_large.$1"
    if [ ! -f "$small" ]; then
        ffmpeg -v error -y -f lavfi -i testsrc2=size=1280x720:rate=25 \
            -f lavfi -i sine=frequency=440:sample_rate=48000 -t 60 \
            -c:v libx264 -preset ultrafast -qp 22 -c:a aac -b:a 128k -ac 2 "$small"
    fi
    [ -f "$large" ] || ffmpeg -v error -y -stream_loop 4 -i "$small" -c copy "$large"
    echo "$large"
}

data="$root/tests/data"
ps=$(make_copy "$data/dvd_mpeg2video_720x576_16x9_25i_tff_ac3_48k_5.1.vob" large.vob)
ts=$(make_copy "$data/ts_mpeg2video_720x576_4x3_25fps_mp2_48k_stereo.ts" large.ts)
mp4_last=$(make_h264 mp4)
mp4_first="$out/mp4_large_faststart.mp4"
[ -f "$mp4_first" ] || ffmpeg -v error -y -i "$mp4_last" -c copy -movflags +faststart "$mp4_first"
mkv=$(make_h264 mkv)

exec python3 "$root/bench/remote_bench.py" --tool "$build/mediadetect" "$@" \
    "PS (DVD)=$ps" "TS=$ts" "MP4 moov first=$mp4_first" "MP4 moov last=$mp4_last" "Matroska=$mkv"
