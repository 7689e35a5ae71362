#!/bin/sh
# Makes the test presentations with FFmpeg's smoothstreaming muxer into MEDIA_DIR, once:
# a stamp holding this script's checksum marks a complete set.
#   vod/pres.ism            3-level H.264 ladder + AAC, 10 s, 2 s fragments
#   lang/pres.ism           one video level + two audio languages (eng, fra)
#   live/pres.ism           a live manifest captured while the encoder was running
#   bench/Manifest          two streams of 20,000 chunks each (no media)
set -eu
media=${1:?usage: make-media.sh MEDIA_DIR}
here=$(cd "$(dirname "$0")" && pwd)
stamp=$(cat "$here/make-media.sh" "$here/split_languages.py" "$here/big_manifest.py" | md5sum | cut -d' ' -f1)
mkdir -p "$media"
exec 9>"$media.lock"
flock 9
[ "$(cat "$media/.stamp" 2>/dev/null || true)" = "$stamp" ] && exit 0
rm -rf "$media/vod" "$media/lang" "$media/live" "$media/bench" "$media/.stamp"

ff="ffmpeg -hide_banner -loglevel error -nostats -y"
x264="-c:v libx264 -preset ultrafast -profile:v main -pix_fmt yuv420p -bf 3 -g 50 -keyint_min 50 -sc_threshold 0 -force_key_frames expr:gte(t,n_forced*2)"

mkdir -p "$media/vod"
$ff -f lavfi -i testsrc2=size=640x360:rate=25:duration=10 \
    -f lavfi -i sine=frequency=440:sample_rate=48000:duration=10 \
    -filter_complex '[0:v]split=3[s0][s1][s2];[s0]scale=640:360[v0];[s1]scale=320:180[v1];[s2]scale=160:90[v2];[1:a]asetpts=PTS+1024/SR/TB,aformat=channel_layouts=stereo[a0]' \
    -map '[v0]' -map '[v1]' -map '[v2]' -map '[a0]' $x264 \
    -b:v:0 600k -maxrate:v:0 600k -bufsize:v:0 1200k \
    -b:v:1 300k -maxrate:v:1 300k -bufsize:v:1 600k \
    -b:v:2 100k -maxrate:v:2 100k -bufsize:v:2 200k \
    -c:a aac -b:a:0 128k \
    -avoid_negative_ts disabled -min_frag_duration 2000000 \
    -f smoothstreaming "$media/vod/pres.ism"

mkdir -p "$media/lang"
$ff -f lavfi -i testsrc2=size=320x180:rate=25:duration=10 \
    -f lavfi -i sine=frequency=440:sample_rate=48000:duration=10 \
    -f lavfi -i sine=frequency=660:sample_rate=48000:duration=10 \
    -filter_complex '[1:a]asetpts=PTS+1024/SR/TB,aformat=channel_layouts=stereo[a0];[2:a]asetpts=PTS+1024/SR/TB,aformat=channel_layouts=stereo[a1]' \
    -map 0:v -map '[a0]' -map '[a1]' $x264 -b:v:0 300k -maxrate:v:0 300k -bufsize:v:0 600k \
    -c:a aac -b:a:0 96k -b:a:1 64k \
    -avoid_negative_ts disabled -min_frag_duration 2000000 \
    -f smoothstreaming "$media/lang/pres.ism"
python3 "$here/split_languages.py" "$media/lang/pres.ism" 96000=eng 64000=fra

# Live: the encoder runs in real time; the manifest is captured once it lists three
# chunks, with the fragments present at that moment.
mkdir -p "$media/live-run" "$media/live"
$ff -re -f lavfi -i testsrc2=size=320x180:rate=25:duration=16 \
    -re -f lavfi -i sine=frequency=440:sample_rate=48000:duration=16 \
    -filter_complex '[1:a]aformat=channel_layouts=stereo[a0]' -map 0:v -map '[a0]' \
    $x264 -b:v:0 300k -maxrate:v:0 300k -bufsize:v:0 600k -c:a aac -b:a:0 64k \
    -output_ts_offset 3600 -window_size 10 -extra_window_size 5 -lookahead_count 2 \
    -min_frag_duration 2000000 -f smoothstreaming "$media/live-run/pres.ism" &
encoder=$!
captured=no
for _ in $(seq 1 300); do
    m="$media/live-run/pres.ism/Manifest"
    if [ -f "$m" ] && [ "$(grep -o '<c ' "$m" | wc -l)" -ge 6 ]; then
        cp -r "$media/live-run/pres.ism" "$media/live/"
        captured=yes
        break
    fi
    sleep 0.1
done
wait $encoder
rm -rf "$media/live-run"
[ $captured = yes ] || { echo "make-media: live manifest never listed chunks" >&2; exit 1; }

mkdir -p "$media/bench"
python3 "$here/big_manifest.py" 20000 > "$media/bench/Manifest"
echo "$stamp" > "$media/.stamp"
