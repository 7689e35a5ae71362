#!/bin/sh
# Makes the benchmarks' 10-minute, 3-level presentation (640x360, 320x180, 160x90 H.264
# and AAC, 2 s fragments) into DIR once; a stamp marks a complete one.
#   bench/long_presentation.sh DIR
set -eu
long=${1:?usage: long_presentation.sh DIR}
[ -f "$long/.stamp" ] && exit 0
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
