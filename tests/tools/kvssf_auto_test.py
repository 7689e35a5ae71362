#!/usr/bin/env python3
"""kvssf play --bitrate auto against the test origin: one YUY2 frame at the display size per
video sample, close to an independent decode of its level, through level switches a pacing
origin forces, a start and a seek; a level no decoder takes fails the run; without its
media module kvssf plays but neither decodes nor records.

    kvssf_auto_test.py KVSSF ORIGIN_DIR
"""

import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest

from h264_stream import decode_yuy2, level_stream
from sample_log import read_log

KVSSF = None
ORIGIN = None
TICKS = 10000000
MIN_PSNR = 35.0
PRESENTATION = "media/vod/pres.ism/Manifest"


def base(server):
    with open(os.path.join(ORIGIN, server + ".url")) as f:
        return f.read().strip()


def adaptive_choice(bitrates, target):
    """The level picked for a measured rate: the highest that fits when the first level
    listed fits, else the lowest."""
    fitting = [b for b in bitrates if b <= target]
    return max(fitting) if bitrates[0] <= target else min(bitrates)


def frames_in(entries):
    return [e for e in entries if "md5" in e]


class KvssfAuto(unittest.TestCase):
    def setUp(self):
        self.temp = tempfile.TemporaryDirectory(prefix="kvssf-auto-")
        self.addCleanup(self.temp.cleanup)
        self.env = dict(os.environ, TMPDIR=self.temp.name)

    def path(self, name):
        return os.path.join(self.temp.name, name)

    def kvssf(self, *args, timeout=240):
        return subprocess.run([KVSSF, *args], env=self.env, capture_output=True, text=True,
                              timeout=timeout)

    def play(self, url, *extra):
        """(the video pin's log entries, the audio pin's); video frames recorded."""
        log = self.path("samples.jsonl")
        result = self.kvssf("play", url, "--bitrate", "auto", "--samples", log, "--quiet",
                            "-o", self.path("frames.mkv"), *extra)
        self.assertEqual(result.returncode, 0, result.stderr)
        pins, errors = read_log(log)
        self.assertEqual(errors, [])
        return pins[0], pins[1]

    def presentation(self):
        """(URL, model, video stream, top video bit rate) of the test presentation; sets size."""
        url = base("nginx") + PRESENTATION
        model = json.loads(self.kvssf("info", url + "?_ssf_Bitrate=auto", "--json").stdout)
        video = model["streams"][0]
        self.size = (video["display_width"], video["display_height"])
        return url, model, video, max(t["bitrate"] for t in video["tracks"])

    def reference(self, model, levels):
        """Raw YUY2 frames at the display size: each chunk decoded by FFmpeg from the level
        given for it, with the samples' times."""
        video, (width, height) = model["streams"][0], self.size
        frames, times = self.path("reference.yuv"), []
        with open(frames, "wb") as out:
            for chunk, bitrate in enumerate(levels):
                data, chunk_times = level_stream(KVSSF, model, video, bitrate, [chunk])
                decode_yuy2(data, width, height, self.path("chunk.yuv"))
                with open(self.path("chunk.yuv"), "rb") as f:
                    out.write(f.read())
                times += chunk_times
        return frames, times

    def check_frames(self, frames, times, reference=None, skip=0):
        """Frames of the display size, one per sample time in order; with reference frames,
        each recorded one at least MIN_PSNR dB close to the reference's from frame skip on."""
        width, height = self.size
        self.assertEqual({f["size"] for f in frames}, {width * height * 2})
        self.assertEqual([(f["start"], f["stop"]) for f in frames], times)
        if reference is None:
            return
        result = subprocess.run(
            ["ffmpeg", "-hide_banner", "-nostats", "-i", self.path("frames.mkv"),
             "-f", "rawvideo", "-pix_fmt", "yuyv422", "-s", "%dx%d" % (width, height),
             "-i", reference, "-lavfi",
             "[1:v]trim=start_frame=%d,setpts=PTS-STARTPTS[r];[0:v][r]psnr=stats_file=%s"
             % (skip, self.path("psnr.log")), "-f", "null", "-"],
            capture_output=True, text=True)
        self.assertEqual(result.returncode, 0, result.stderr)
        with open(self.path("psnr.log")) as f:
            values = [float(v) for v in re.findall(r"psnr_avg:(\S+)", f.read())]
        self.assertEqual(len(values), len(frames))
        self.assertGreaterEqual(min(values), MIN_PSNR)

    def test_top_level_whole_then_from_a_start_and_after_a_seek(self):
        url, model, video, top = self.presentation()
        self.assertEqual(video["media_type"]["subtype"], "{32595559-0000-0010-8000-00AA00389B71}")
        reference, times = self.reference(model, [top] * len(video["chunks"]))
        received, audio = self.play(url)
        self.assertEqual((received[-1]["event"], audio[-1]["event"]), ("eos", "eos"))
        self.check_frames(frames_in(received), times, reference)
        self.assertEqual({f["level"] for f in frames_in(received)}, {top})

        # 3.1 s is not a chunk start: the frames from the chunk's key frame up to the
        # target are decoded, but only those at or after it are delivered.
        target = 31 * TICKS // 10
        first = min(i for i, (start, _) in enumerate(times) if start >= target)
        expected = [(s - target, e - target) for s, e in times[first:]]
        started = frames_in(self.play(url, "--start", "3.1")[0])
        self.check_frames(started, expected, reference, skip=first)
        self.assertTrue(started[0]["discontinuity"])

        # A seek while running: after the flush, the same frames.
        received, _ = self.play(url, "--seek", "1:3.1")
        events = [e.get("event") for e in received]
        frames = frames_in(received[events.index("endflush") + 1:])
        self.check_frames(frames, expected)
        self.assertTrue(frames[0]["discontinuity"])
        self.assertEqual([f["md5"] for f in frames], [f["md5"] for f in started])

    def test_level_switches_down_and_up_keep_frames_and_type(self):
        # The second chunk's top-level fragment comes at 40 kB/s (about 320 kbit/s, between
        # the levels): the third chunk is fetched at a level that fits, the fourth at the top.
        _, model, video, top = self.presentation()
        paced = base("faults") + "paced/40000/%d/" % video["chunks"][1][0] + PRESENTATION
        down = adaptive_choice([t["bitrate"] for t in video["tracks"]], 320000)
        self.assertLess(down, top)
        expected = [top, top, down] + [top] * (len(video["chunks"]) - 3)
        reference, times = self.reference(model, expected)
        frames = frames_in(self.play(paced)[0])
        self.check_frames(frames, times, reference)
        per_chunk = len(frames) // len(expected)
        self.assertEqual([f["level"] for f in frames],
                         [level for level in expected for _ in range(per_chunk)])

    def test_a_level_no_decoder_takes_fails_the_run(self):
        url = base("nginx") + "fixtures/nodecoder.ism/Manifest"
        result = self.kvssf("play", url, "--bitrate", "auto", "--quiet", timeout=60)
        self.assertNotEqual(result.returncode, 0)
        self.assertIn("0x80004005", result.stderr)

    def test_without_its_media_module_kvssf_plays_but_neither_decodes_nor_records(self):
        kvssf = shutil.copy(KVSSF, self.path("kvssf"))
        url = base("nginx") + PRESENTATION
        for extra, status in ((), 0), (("--bitrate", "auto"), 1), (("-o", self.path("a.mkv")), 1):
            result = subprocess.run([kvssf, "play", url, "--quiet", "--duration", "2", *extra],
                                    env=self.env, capture_output=True, text=True, timeout=60)
            self.assertEqual(result.returncode, status, result.stderr)
            self.assertEqual("media module cannot be loaded" in result.stderr, status != 0)


if __name__ == "__main__":
    KVSSF, ORIGIN = sys.argv[1], sys.argv[2]
    unittest.main(argv=sys.argv[:1])
