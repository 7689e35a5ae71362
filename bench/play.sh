#!/bin/sh
# Playback benchmark: kvssf play of a 10-minute, 3-level presentation from the local
# nginx (top level and audio, no clock, null sinks) against curl fetching the same
# fragment URLs over one connection, and one HTTP/1.0 connection per fragment into files;
# the time to the first sample after Run and after a seek against one fragment's
# download; peak memory over the same presentation repeated to 2 minutes and 2 hours;
# then the CPU kvssf uses while every download is held back by a slow origin for 10 s.
#   bench/play.sh [BUILD_DIR]
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/native}
media="$root/build/testmedia"
origin="$build/bench-origin"
"$root/tests/origin/origin.sh" start "$origin" "$media"
trap '"$root/tests/origin/origin.sh" stop "$origin"' EXIT

"$root/bench/long_presentation.sh" "$media/long"
python3 "$root/bench/repeat_presentation.py" "$media/long" "$media/minutes2" 120
python3 "$root/bench/repeat_presentation.py" "$media/long" "$media/hours2" 7200
python3 "$root/bench/play_bench.py" "$build/bin/kvssf" "$build/bin/first_sample_bench" \
    "$(cat "$origin/nginx.url")media/" "$(cat "$origin/faults.url")held/Manifest"
