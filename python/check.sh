#!/usr/bin/env bash
# `pip install ./python` into a fresh virtual environment (offline: the package builds with the
# standard library alone), a one-line use of it, then its pytest suite against the built tool and
# module.  Usage: check.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
build=$(cd "$1" && pwd) source=$(cd "$2" && pwd)
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
# Debian's pip and pytest come in through the system site packages.
/usr/bin/python3 -m venv --without-pip --system-site-packages "$tmp/venv"
"$tmp/venv/bin/python" -m pip install --quiet --no-index "$source/python"
export MEDIADETECT_MODULE=$build/libmediadetect.so MEDIADETECT_TOOL=$build/mediadetect MEDIADETECT_SOURCE=$source
cd "$tmp"  # import the installed package, not the source folder
"$tmp/venv/bin/python" -c "import mediadetect; print(mediadetect.detect('$source/tests/data/mp4_h264_640x360_25fps_aac_48k_stereo.mp4'))"
"$tmp/venv/bin/python" -m pytest -q -p no:cacheprovider "$source/python/tests"
