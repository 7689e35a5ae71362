#!/bin/sh
# Serves the generated 2 x 20,000-chunk manifest locally and runs the manifest-load
# benchmark against it: bench/manifest_load.sh [BUILD_DIR]
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/native}
origin="$build/bench-origin"
"$root/tests/origin/origin.sh" start "$origin" "$root/build/testmedia"
trap '"$root/tests/origin/origin.sh" stop "$origin"' EXIT
"$build/bin/manifest_load_bench" "$(cat "$origin/nginx.url")media/bench/Manifest" 15
