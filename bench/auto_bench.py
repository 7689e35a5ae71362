#!/usr/bin/env python3
"""The measurements of bench/auto.sh: auto_bench.py KVSSF MANIFEST_URL"""

import json
import os
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "tools"))
from h264_stream import level_stream  # noqa: E402
from play_bench import measure  # noqa: E402


def main():
    kvssf, manifest = sys.argv[1:3]
    model = json.loads(subprocess.run([kvssf, "info", manifest + "?_ssf_Bitrate=auto", "--json"],
                                      check=True, capture_output=True, text=True).stdout)
    video = next(s for s in model["streams"] if s["kind"] == "video")
    top = max(t["bitrate"] for t in video["tracks"])
    width, height = video["display_width"], video["display_height"]
    data, times = level_stream(kvssf, model, video, top)
    with tempfile.TemporaryDirectory() as temp:
        path = os.path.join(temp, "top.h264")
        with open(path, "wb") as f:
            f.write(data)
        # Peak memory is the largest of the children so far: kvssf goes first.
        play = measure([kvssf, "play", manifest, "--bitrate", "auto", "--quiet"])
        ffmpeg = measure(["ffmpeg", "-hide_banner", "-loglevel", "error", "-nostats", "-f", "h264",
                          "-i", path, "-vf", "scale=%d:%d:flags=bicubic" % (width, height),
                          "-pix_fmt", "yuyv422", "-f", "null", "-"])
    print("frames: %d of %dx%d YUY2 (top level %d bit/s of a 10-minute presentation)"
          % (len(times), width, height, top))
    print("%-40s %8s %8s %10s" % ("", "wall s", "cpu s", "peak MiB"))
    print("%-40s %8.2f %8.2f %10.1f" % ("ffmpeg decode + scale, local file", *ffmpeg))
    print("%-40s %8.2f %8.2f %10.1f" % ("kvssf play --bitrate auto (no clock)", *play))
    print("kvssf / ffmpeg wall time: %.2f (goal <= 1.5)" % (play[0] / ffmpeg[0]))


if __name__ == "__main__":
    main()
