#!/usr/bin/env bash
# The module, the tool and the Matroska plugin under valgrind's memcheck: one corpus file of every container family
# (the part of its name before the first '_'), and a few real-world files where ../shared/realworld is there, through
# the tool in the extended and the base behaviour and through the C host with every query, and the time-index
# module beside the detector. Any memory error -- a
# read of freed or uninitialised memory, memory freed by another allocator than the one that made it -- or a
# definite leak fails the check. Families that land later are covered by their corpus files.
# Usage: valgrind_check.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
build=$1
source=$2
command -v valgrind >/dev/null || { echo "valgrind_check: valgrind is not installed (./dev test installs it)" >&2; exit 1; }

files=()
declare -A seen
for f in "$source"/tests/data/*.*; do
    name=$(basename "$f")
    case "$name" in *.md | *.sh) continue ;; esac
    family=${name%%_*}
    [ -n "${seen[$family]:-}" ] && continue
    seen[$family]=1
    files+=("$f")
done
realworld=$source/../shared/realworld
for name in mkv_h264_vorbis.mkv mkv_h264_ac3_pgs_laced.mkv mov_iphone_rotated.mov ts_dvb_h264_1080i_eac3_dvbsub.ts \
            mpeg2ps_dvdnav_640x426_mp2.ps; do
    [ -f "$realworld/$name" ] && files+=("$realworld/$name")
done

memcheck=(valgrind -q --error-exitcode=99 --leak-check=full --errors-for-leak-kinds=definite --show-leak-kinds=definite)
echo "valgrind_check: ${#files[@]} files"
"${memcheck[@]}" "$build/mediadetect" "${files[@]}" >/dev/null
"${memcheck[@]}" "$build/mediadetect" --strict "${files[@]}" >/dev/null
"${memcheck[@]}" "$build/c_host" "$build/libmediadetect.so" --every-query "${files[@]}" >/dev/null
# The detector and the time-index module together: a program stream's time table built on the worker thread and
# stored, in a registry and database of this run's own.
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
export MEDIADETECT_REGISTRY=$scratch/registry.reg MEDIADETECT_TIMEINDEX_DB=$scratch/index.sqlite
"$build/mediadetect" register >/dev/null
"${memcheck[@]}" "$build/mediadetect" --time-table "$source"/tests/data/dvd_mpeg2video_720x576_16x9_25i_tff_ac3_48k_5.1.vob \
    >/dev/null
echo "valgrind_check: no memory errors"
