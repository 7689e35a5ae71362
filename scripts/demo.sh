#!/bin/sh
# The main job on the built-in demo presentation: makes it with FFmpeg, serves it on
# 127.0.0.1 with nginx, prints its model with `kvssf info`, plays it into a Matroska
# file with `kvssf play`, prints what ffprobe reads in that file, and stops the server.
set -eu
cd "$(dirname "$0")/.."
./scripts/setup.sh
./scripts/build.sh native
origin=build/native/demo-origin
tests/origin/origin.sh start "$PWD/$origin" "$PWD/build/testmedia"
trap 'tests/origin/origin.sh stop "$PWD/$origin"' EXIT
url="$(cat $origin/nginx.url)media/vod/pres.ism/Manifest"
echo "kvssf info $url"
build/native/bin/kvssf info "$url"
out=build/native/demo.mkv
echo
echo "kvssf play $url -o $out"
build/native/bin/kvssf play "$url" -o "$out" --quiet
echo
echo "ffprobe $out"
ffprobe -v error -count_packets \
    -show_entries format=duration:stream=index,codec_name,width,height,sample_rate,channels,nb_read_packets \
    -of default=noprint_wrappers=1 "$out"
