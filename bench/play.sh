#!/bin/sh
# Playback benchmark: kvssf play of a 10-minute, 3-level presentation from the local
# nginx (top level and audio, no clock, null sinks) against one curl process fetching
# the same fragment URLs over one connection; then the CPU kvssf uses while every
# download is held back by a slow origin for 10 s.
#   bench/play.sh [BUILD_DIR]
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/native}
media="$root/build/testmedia"
origin="$build/bench-origin"
"$root/tests/origin/origin.sh" start "$origin" "$media"
trap '"$root/tests/origin/origin.sh" stop "$origin"' EXIT

"$root/bench/long_presentation.sh" "$media/long"
long="$media/long"
python3 "$root/bench/play_bench.py" "$build/bin/kvssf" "$(cat "$origin/nginx.url")media/long/pres.ism/Manifest" \
    "$(cat "$origin/faults.url")held/Manifest"
