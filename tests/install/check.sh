#!/usr/bin/env bash
# Installs the build into a temporary prefix and builds, against the installed files only, a C host
# (pkg-config) and a C++ host (find_package); both open a corpus file and must print its kind, and
# the installed tool must find its module.  Usage: check.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
build=$1 source=$2
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
cmake --install "$build" --prefix "$tmp/prefix" >/dev/null
libdir=$(dirname "$(find "$tmp/prefix" -name mediadetect.pc)")/..
file=$source/tests/data/ts_mpeg2video_720x576_4x3_25fps_mp2_48k_stereo.ts
export LD_LIBRARY_PATH=$libdir PKG_CONFIG_PATH=$libdir/pkgconfig

cc -std=c11 -Wall -Wextra -Werror -o "$tmp/host_c" "$source/tests/install/host.c" $(pkg-config --cflags --libs mediadetect)
[ "$("$tmp/host_c" "$file")" = "kind 8" ] || { echo "C host: wrong output"; exit 1; }

cmake -S "$source/tests/install" -B "$tmp/cxx" -DCMAKE_PREFIX_PATH="$tmp/prefix" >/dev/null
cmake --build "$tmp/cxx" >/dev/null
[ "$("$tmp/cxx/host_cxx" "$file")" = "kind 8" ] || { echo "C++ host: wrong output"; exit 1; }

env -u LD_LIBRARY_PATH "$tmp/prefix/bin/mediadetect" "$file" | grep -q " 8  mpeg2-transport" || { echo "installed tool: no module"; exit 1; }
mkv=$source/tests/data/mkv_h264_640x360_25fps_aac_48k_stereo.mkv
[ "$("$tmp/host_c" "$mkv")" = "kind 14" ] || { echo "C host: the installed module did not load its Matroska plugin"; exit 1; }
echo "installed hosts and tool agree: kind 8"
