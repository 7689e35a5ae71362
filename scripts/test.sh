#!/bin/sh
# Sets up the machine, builds both presets and runs every test: natively and, for the
# Windows build, under Wine (its stand-in filters need FFmpeg cross-built once per tree).
set -eu
cd "$(dirname "$0")/.."
./scripts/setup.sh
./scripts/ffmpeg-mingw.sh
./scripts/build.sh native mingw
status=0
ctest --preset native -j2 || status=1
ctest --preset mingw || status=1
exit $status
