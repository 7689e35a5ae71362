#!/bin/sh
# Installs the Debian 12 packages the build, the tests and the demo need
# (with sudo when not root). Safe to run again.
set -eu
packages="
  build-essential cmake ninja-build pkg-config git python3 openssl
  libcurl4-openssl-dev libssl-dev libxml2-dev libgtest-dev googletest
  libavformat-dev libavcodec-dev libswscale-dev libavutil-dev
  ffmpeg nginx-light clang
  g++-mingw-w64-x86-64 mingw-w64-tools wine wine64 libwine-dev libgnutls30 nasm
"
missing=""
for p in $packages; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || missing="$missing $p"
done
[ -z "$missing" ] && exit 0
if [ "$(id -u)" -eq 0 ]; then sudo=""; else sudo="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update
# shellcheck disable=SC2086
$sudo apt-get install -y --no-install-recommends $missing
