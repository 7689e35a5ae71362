#!/bin/sh
# "auto" quality benchmark: kvssf play --bitrate auto of the 10-minute presentation
# (decoded, converted and scaled to YUY2 at the display size; no clock, null sinks)
# against ffmpeg decoding the same top-level fragments and scaling them to the same
# size and pixel format into a null output, in the same run.
#   bench/auto.sh [BUILD_DIR]
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/native}
media="$root/build/testmedia"
origin="$build/bench-origin"
"$root/tests/origin/origin.sh" start "$origin" "$media"
trap '"$root/tests/origin/origin.sh" stop "$origin"' EXIT
"$root/bench/long_presentation.sh" "$media/long"
python3 "$root/bench/auto_bench.py" "$build/bin/kvssf" \
    "$(cat "$origin/nginx.url")media/long/pres.ism/Manifest"
