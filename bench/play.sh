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

# The long presentation, made once (a stamp marks a complete one).
long="$media/long"
if [ ! -f "$long/.stamp" ]; then
    rm -rf "$long" && mkdir -p "$long"
    ffmpeg -hide_banner -loglevel error -nostats -y \
        -f lavfi -i testsrc2=size=640x360:rate=25:duration=600 \
        -f lavfi -i sine=frequency=440:sample_rate=48000:duration=600 \
        -filter_complex '[0:v]split=3[s0][s1][s2];[s0]scale=640:360[v0];[s1]scale=320:180[v1];[s2]scale=160:90[v2];[1:a]asetpts=PTS+1024/SR/TB,aformat=channel_layouts=stereo[a0]' \
        -map '[v0]' -map '[v1]' -map '[v2]' -map '[a0]' \
        -c:v libx264 -preset ultrafast -g 50 -keyint_min 50 -sc_threshold 0 \
        -b:v:0 1500k -b:v:1 600k -b:v:2 200k -c:a aac -b:a 128k \
        -avoid_negative_ts disabled -min_frag_duration 2000000 \
        -f smoothstreaming "$long/pres.ism"
    touch "$long/.stamp"
fi
python3 "$root/bench/play_bench.py" "$build/bin/kvssf" "$(cat "$origin/nginx.url")media/long/pres.ism/Manifest" \
    "$(cat "$origin/faults.url")held/Manifest"
