#!/usr/bin/env bash
# Runs the probe benchmark on the bundled samples, the shared real-world samples
# and two generated 200 MiB files (kept in bench/out/, which git ignores).
# Builds nothing: run ./dev build (or ./dev bench) first. Arguments go to
# probe_bench (for example --size-mb 20 or --repeat 5).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
bench="${PROBE_BENCH:-$root/build/probe_bench}"  # PROBE_BENCH overrides
if [ ! -x "$bench" ]; then
    echo "run.sh: $bench not found; build first (./dev build)" >&2
    exit 1
fi
files=()
for dir in "$root/tests/data" "$root/../shared/realworld"; do
    [ -d "$dir" ] || continue
    for f in "$dir"/*; do
        [ -f "$f" ] || continue
        case "$f" in *.md|*.sh|*.json|*.txt) continue ;; esac
        files+=("$f")
    done
done
exec "$bench" --out "$root/bench/out" "$@" "${files[@]}"
