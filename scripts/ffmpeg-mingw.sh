#!/bin/sh
# Cross-builds libavcodec (H.264 only), libavutil and libswscale for mingw-w64 from the
# Debian source package of the same version as the installed libavcodec-dev, so the
# Windows test filters decode and scale with the code the Linux build uses. Static
# libraries and headers go to PREFIX (default build/ffmpeg-mingw); a finished PREFIX is
# kept, so a tree builds it once.
#   ffmpeg-mingw.sh [PREFIX]
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
prefix=${1:-$root/build/ffmpeg-mingw}
version=$(dpkg-query -W -f='${Version}' libavcodec-dev)
stamp="$prefix/.built-$(echo "$version" | tr ':' '_')"
[ -f "$stamp" ] && exit 0

work="$prefix.work"
rm -rf "$work" "$prefix"
mkdir -p "$work/apt/sources.list.d" "$work/apt/lists/partial" "$work/src"
# The system's archives as source entries, with apt state of their own: the system's
# lists and sources stay as they are.
for f in /etc/apt/sources.list.d/*.sources; do
    [ -f "$f" ] && sed 's/^Types: deb$/Types: deb-src/' "$f" >"$work/apt/sources.list.d/$(basename "$f")"
done
if [ -f /etc/apt/sources.list ]; then
    sed -n 's/^deb /deb-src /p' /etc/apt/sources.list >"$work/apt/sources.list"
else
    : >"$work/apt/sources.list"
fi
apt_opts="-o Dir::Etc::sourcelist=$work/apt/sources.list
          -o Dir::Etc::sourceparts=$work/apt/sources.list.d
          -o Dir::State::Lists=$work/apt/lists
          -o APT::Sandbox::User=root"
# shellcheck disable=SC2086
apt-get $apt_opts -qq update
# shellcheck disable=SC2086
(cd "$work/src" && apt-get $apt_opts -qq source --download-only "ffmpeg=$version")
tar -xf "$work"/src/ffmpeg_*.orig.tar.xz -C "$work/src"
src=$(find "$work/src" -mindepth 1 -maxdepth 1 -type d -name 'ffmpeg-*' | head -n 1)

# nasm gives the SIMD paths the Linux libraries use, so scaled pictures match byte for byte.
asm=--disable-x86asm
command -v nasm >/dev/null && asm=""
cd "$src"
# shellcheck disable=SC2086
./configure --prefix="$prefix" --arch=x86_64 --target-os=mingw32 \
    --cross-prefix=x86_64-w64-mingw32- --disable-everything --disable-programs --disable-doc \
    --disable-network --disable-autodetect --enable-decoder=h264 --enable-parser=h264 \
    --enable-swscale --disable-avformat --disable-avfilter --disable-avdevice \
    --disable-swresample --enable-static --disable-shared $asm >"$work/configure.log"
make -j2 >"$work/make.log" 2>&1 || { tail -n 30 "$work/make.log"; exit 1; }
make install >/dev/null
touch "$stamp"
rm -rf "$work"
