#!/bin/sh
# The main job on the built-in demo presentation: makes it with FFmpeg, serves it on
# 127.0.0.1 with nginx, runs `kvssf info` on it and stops the server.
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
