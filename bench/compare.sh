#!/usr/bin/env bash
# Side-by-side cost of describing a file: the mediadetect process against
# ffprobe and mediainfo, and the module's open on a small and a 200 MB file.
# Usage: bench/compare.sh [SOURCE_FILE]   the large file repeats SOURCE_FILE
#                                         (default: the DVD sample of tests/data)
#        bench/compare.sh --mp4           a real MP4 (H.264 + AAC, 'moov' after
#                                         'mdat') of 60 s and one of over 200 MB
#        bench/compare.sh --mkv           the same streams in Matroska (with Cues)
#        bench/compare.sh --family EXT    a file of a container family beyond MPEG, MP4 and Matroska:
#                                         60 s encoded by ffmpeg, then looped by stream copy past 200 MB
#                                         (EXT: wav mp3 aac ac3 eac3 dts flac aiff caf ogg opus avi flv
#                                         wmv mxf dv amr; mp3cover: an MP3 whose ID3v2 tag holds a 600 KB
#                                         cover picture)
# Generated files are kept in bench/out/ (git-ignored).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${BUILD_DIR:-$root/build}"
out="$root/bench/out"
mkdir -p "$out"

make_copy() {  # make_copy SOURCE SIZE_MB NAME: SOURCE repeated to at least SIZE_MB
    local target="$out/$3" size=$(( $2 * 1024 * 1024 ))
    if [ ! -f "$target" ] || [ "$(stat -c %s "$target")" -lt "$size" ]; then
        : > "$target"
        while [ "$(stat -c %s "$target")" -lt "$size" ]; do cat "$1" >> "$target"; done
    fi
    echo "$target"
}

make_h264() {  # make_h264 EXT: 60 s of 720p25 H.264 with AAC (about 44 MB), then 5 loops of it by stream copy
    local small="$out/$1_60s.$1" large="$out/$1_large.$1"
    if [ ! -f "$small" ]; then
        ffmpeg -v error -y -f lavfi -i testsrc2=size=1280x720:rate=25 \
            -f lavfi -i sine=frequency=440:sample_rate=48000 -t 60 \
            -c:v libx264 -preset ultrafast -qp 22 -c:a aac -b:a 128k -ac 2 "$small"
    fi
    if [ ! -f "$large" ]; then
        ffmpeg -v error -y -stream_loop 4 -i "$small" -c copy "$large"
    fi
    echo "$small $large"
}

make_family() {  # make_family EXT: 60 s of the family's usual codecs, and a stream-copied loop of it past 200 MB
    local small="$out/family_60s.$1" large="$out/family_large.$1" codec
    local video=(-f lavfi -i testsrc2=size=720x576:rate=25)
    local audio=(-f lavfi -i "aevalsrc=0.4*sin(440*2*PI*t)|0.4*sin(660*2*PI*t):sample_rate=48000:channel_layout=stereo")
    case "$1" in
    wav | aiff | caf) codec=(-c:a pcm_s16le); [ "$1" = aiff ] && codec=(-c:a pcm_s16be); video=() ;;
    mp3) codec=(-c:a libmp3lame -b:a 320k); video=() ;;
    aac) codec=(-c:a aac -b:a 320k -f adts); video=() ;;
    ac3) codec=(-c:a ac3 -b:a 640k); video=() ;;
    eac3) codec=(-c:a eac3 -b:a 1024k); video=() ;;
    dts) codec=(-c:a dca -strict -2 -b:a 1536k); video=() ;;
    flac) codec=(-c:a flac); video=(); audio=(-f lavfi -i "anoisesrc=color=pink:seed=1:sample_rate=48000") ;;
    ogg) codec=(-c:a libvorbis -q:a 10); video=() ;;
    opus) codec=(-c:a libopus -b:a 256k); video=() ;;
    avi) codec=(-c:v mpeg4 -q:v 2 -c:a libmp3lame -b:a 192k) ;;
    flv) codec=(-c:v libx264 -preset ultrafast -qp 22 -c:a aac -b:a 128k) ;;
    wmv) codec=(-c:v wmv2 -q:v 2 -c:a wmav2 -b:a 128k -f asf) ;;
    mxf) codec=(-c:v mpeg2video -q:v 2 -c:a pcm_s16le) ;;
    dv) codec=(-c:v dvvideo -pix_fmt yuv420p -c:a pcm_s16le) ;;  # 60 s of DV alone is past 200 MB
    amr)  # no AMR encoder in Debian's ffmpeg: the corpus voice memo's frames repeated after its one "#!AMR" line
        local memo="$root/tests/data/amr_nb_12k2_mono.amr"
        [ -f "$small" ] || cp "$memo" "$small"
        if [ ! -f "$large" ]; then
            tail -c +7 "$memo" > "$out/amr_frames"
            while [ "$(stat -c %s "$out/amr_frames")" -lt $(( 200 * 1024 * 1024 )) ]; do  # doubled each turn
                cat "$out/amr_frames" "$out/amr_frames" > "$out/amr_frames2" && mv "$out/amr_frames2" "$out/amr_frames"
            done
            { head -c 6 "$memo"; cat "$out/amr_frames"; } > "$large" && rm "$out/amr_frames"
        fi
        echo "$small $large"; return ;;
    mp3cover)  # 600 KB of PNG (noise does not compress) as the ID3v2.3 front cover of 320 kb/s MP3
        if [ ! -f "$small" ]; then
            ffmpeg -v error -y -f lavfi -i "nullsrc=size=640x640,format=rgb24,geq=r='random(1)*255':g='random(2)*255':b='random(3)*255'" \
                -frames:v 1 -c:v png "$out/cover600k.png"
            ffmpeg -v error -y "${audio[@]}" -i "$out/cover600k.png" -t 60 -map 0:a -map 1:v -c:v copy \
                -disposition:v attached_pic -c:a libmp3lame -b:a 320k -id3v2_version 3 -f mp3 "$small"
        fi
        if [ ! -f "$large" ]; then
            # The cover is written once: the audio alone is looped past 200 MB.
            local loops=$(( 200 * 1024 * 1024 / ($(stat -c %s "$small") - $(stat -c %s "$out/cover600k.png")) + 1 ))
            ffmpeg -v error -y -stream_loop "$loops" -i "$small" -map 0 -c copy -id3v2_version 3 -f mp3 "$large"
        fi
        echo "$small $large"; return ;;
    *) echo "compare.sh: no family $1" >&2; exit 2 ;;
    esac
    [ -f "$small" ] || ffmpeg -v error -y "${video[@]}" "${audio[@]}" -t 60 "${codec[@]}" "$small"
    if [ ! -f "$large" ]; then
        local loops=$(( 200 * 1024 * 1024 / $(stat -c %s "$small") ))
        ffmpeg -v error -y -stream_loop "$loops" -i "$small" -map 0 -c copy "$large"
    fi
    echo "$small $large"
}

process_reads() {  # process_reads [OPTIONS] FILE: bytes and read calls (read, pread64) with which one `mediadetect FILE` reads FILE
    local log="$out/strace.log" file="${*: -1}"
    strace -f -o "$log" -e trace=openat,read,pread64,close "$build/mediadetect" "$@" > /dev/null 2>&1
    awk -v path="\"$file\"" '
        $2 ~ /^openat\(/ && index($0, path) { open[$NF] = 1 }
        $2 ~ /^close\(/ { s = $2; sub(/^close\(/, "", s); delete open[s + 0] }
        $2 ~ /^p?read(64)?\(/ { s = $2; sub(/^p?read(64)?\(/, "", s); if ((s + 0) in open) { bytes += $NF; calls++ } }
        END { printf "%d bytes in %d reads\n", bytes, calls }' "$log"
}

if [ "${1:-}" = "--mp4" ]; then
    read -r small large < <(make_h264 mp4)
elif [ "${1:-}" = "--mkv" ]; then
    read -r small large < <(make_h264 mkv)
elif [ "${1:-}" = "--family" ]; then
    read -r small large < <(make_family "${2:?--family takes an extension}")
else
    src="${1:-$root/tests/data/dvd_mpeg2video_720x576_16x9_25i_tff_ac3_48k_5.1.vob}"
    small=$(make_copy "$src" 2 "small.${src##*.}")
    large=$(make_copy "$src" 200 "large.${src##*.}")
fi
cat "$large" > /dev/null  # warm the page cache

echo "== module open (open_bench): small vs large"
"$build/open_bench" --repeat 20 "$small" "$large"
"$build/mediadetect" "$large"
if [ "${2:-}" = mp3cover ] && command -v strace >/dev/null; then
    # The open places the cover without reading it; --thumbnail reads it once more, at the query.
    echo "== file reads of one mediadetect process (strace), without and with --thumbnail"
    echo "$(basename "$large"): $(process_reads "$large")"
    echo "$(basename "$large") --thumbnail: $(process_reads --thumbnail "$out/cover_out.png" "$large")"
fi
if [ "${1:-}" = "--mkv" ] && command -v strace >/dev/null; then
    # open_bench does not select tracks; mediadetect selects the first ones, which measures them.
    echo "== file reads of one mediadetect process (strace)"
    for f in "$small" "$large"; do echo "$(basename "$f"): $(process_reads "$f")"; done
fi

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
