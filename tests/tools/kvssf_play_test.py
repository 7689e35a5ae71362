#!/usr/bin/env python3
"""kvssf play against the test origin: the samples of whole presentations, seeks, live
playback, recording and failures.

    kvssf_play_test.py KVSSF ORIGIN_DIR
"""

import hashlib
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
import threading
import time
import unittest
import urllib.request

from sample_log import read_log

KVSSF = None
ORIGIN = None
TICKS = 10000000


def base(server):
    with open(os.path.join(ORIGIN, server + ".url")) as f:
        return f.read().strip()


def fetch(url):
    with urllib.request.urlopen(url, timeout=30) as response:
        return response.read()


def served_presentation(test, name, loops):
    """A presentation directory in the origin's web root, removed after test, whose
    fragments link to media/vod's repeated loops times back to back. (its Manifest path,
    its URL, the vod manifest, per stream the vod's chunk durations)"""
    root, vod = os.path.join(ORIGIN, "www"), os.path.join(ORIGIN, "www", "media", "vod", "pres.ism")
    folder = os.path.join(root, f"{name}-{os.getpid()}", "pres.ism")
    shutil.rmtree(os.path.dirname(folder), ignore_errors=True)
    test.addCleanup(shutil.rmtree, os.path.dirname(folder), True)
    with open(os.path.join(vod, "Manifest")) as f:
        source = f.read()
    durations = [[int(d) for d in re.findall(r'<c n="\d+" d="(\d+)" />', index)]
                 for index in source.split("<StreamIndex")[1:]]
    for level in (l for l in os.listdir(vod) if l.startswith("QualityLevels(")):
        os.makedirs(os.path.join(folder, level))
        for kind, ds in zip(("video", "audio"), durations):
            for k in range(loops * len(ds)):
                source_file = os.path.join(vod, level, f"Fragments({kind}={sum(ds[:k % len(ds)])})")
                start = sum(ds) * (k // len(ds)) + sum(ds[:k % len(ds)])
                if os.path.exists(source_file):
                    os.symlink(source_file, os.path.join(folder, level, f"Fragments({kind}={start})"))
    path = os.path.join(folder, "Manifest")
    return path, base("nginx") + os.path.relpath(path, root), source, durations


def write_atomically(path, text):
    with open(path + ".new", "w") as f:
        f.write(text)
    os.replace(path + ".new", path)


class KvssfPlay(unittest.TestCase):
    def setUp(self):
        self.temp = tempfile.TemporaryDirectory(prefix="kvssf-play-")
        self.env = dict(os.environ, TMPDIR=self.temp.name)

    def tearDown(self):
        left = [f for f in os.listdir(self.temp.name) if not f.startswith("out")]
        self.temp.cleanup()
        self.assertEqual(left, [], "temporary files left behind")

    def kvssf(self, *args, timeout=120):
        return subprocess.run([KVSSF, *args], env=self.env, capture_output=True, text=True,
                              timeout=timeout)

    def play(self, url, *extra):
        """(result, per-pin lists of what the sinks received, the error lines)."""
        log = os.path.join(self.temp.name, "out-samples.jsonl")
        result = self.kvssf("play", url, "--samples", log, "--quiet", *extra)
        pins, errors = read_log(log)
        return result, pins, errors

    def expected_samples(self, model, stream):
        """The samples of a stream's fragments, by the system's parser and the origin's
        bytes: absolute start and stop, size, sync, md5."""
        track = stream["tracks"][stream["current_track"]]
        start_time = model["manifest"]["start_time"]
        samples = []
        for chunk_start, _ in stream["chunks"]:
            path = (stream["url"].replace("{bitrate}", str(track["bitrate"]))
                    .replace("{start time}", str(chunk_start)))
            url = model["manifest"]["base_url"] + path
            boxes = json.loads(self.kvssf("boxes", url, "--json").stdout)
            body = fetch(url)
            for s in boxes["samples"]:
                ticks = chunk_start + s["decode_offset"]
                samples.append({
                    "start": ticks * TICKS // stream["time_scale"] - start_time,
                    "stop": (ticks + s["duration"]) * TICKS // stream["time_scale"] - start_time,
                    "size": s["size"], "sync": s["sync"],
                    "md5": hashlib.md5(body[s["data_position"]:s["data_position"] + s["size"]])
                    .hexdigest()})
        return samples

    def model(self, url):
        return json.loads(self.kvssf("info", url, "--json").stdout)

    def test_whole_presentation_exactly_the_fragments_samples_then_one_eos(self):
        url = base("nginx") + "media/vod/pres.ism/Manifest"
        model = self.model(url)
        result, pins, errors = self.play(url, "-o", os.path.join(self.temp.name, "out.mkv"))
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(errors, [])
        self.assertEqual(sorted(pins), [0, 1])
        for pin, stream in enumerate(model["streams"]):
            received = pins[pin]
            self.assertEqual(received[0]["event"], "newsegment")
            self.assertEqual((received[0]["start"], received[0]["rate"]),
                             (0, 1))
            self.assertEqual(received[-1], {"pin": pin, "event": "eos"})
            samples = received[1:-1]
            self.assertTrue(all("md5" in s for s in samples), "only samples in between")
            expected = self.expected_samples(model, stream)
            self.assertEqual([{k: s[k] for k in ("start", "stop", "size", "sync", "md5")}
                              for s in samples], expected, stream["name"])
            self.assertEqual([s["discontinuity"] for s in samples],
                             [True] + [False] * (len(samples) - 1))
            self.assertEqual([s["preroll"] for s in samples], [s["stop"] < 10000 for s in samples])

        # The recording holds every sample of both streams.
        probe = subprocess.run(
            ["ffprobe", "-v", "error", "-count_packets", "-show_entries",
             "stream=codec_name,width,height,channels,nb_read_packets", "-of", "csv=p=0",
             os.path.join(self.temp.name, "out.mkv")], capture_output=True, text=True)
        self.assertEqual(probe.stdout.split(), [
            "h264,640,360,%d" % (len(pins[0]) - 2), "aac,2,%d" % (len(pins[1]) - 2)])

    def test_start_stop_and_seek_choose_the_samples_per_stream(self):
        url = base("nginx") + "media/vod/pres.ism/Manifest"
        model = self.model(url)
        video = self.expected_samples(model, model["streams"][0])
        audio = self.expected_samples(model, model["streams"][1])
        start, stop = 5 * TICKS, 8 * TICKS
        result, pins, _ = self.play(url, "--start", "5", "--stop", "8")
        self.assertEqual(result.returncode, 0, result.stderr)
        for pin, expected in ((0, video), (1, audio)):
            received = pins[pin]
            self.assertEqual(received[0], {"pin": pin, "event": "newsegment", "start": start,
                                           "stop": stop, "rate": 1})
            samples = received[1:-1]
            self.assertEqual(received[-1]["event"], "eos")
            if pin == 0:
                # From the last sync sample at or before the start: the chunk's first.
                first = max(i for i, s in enumerate(expected)
                            if s["sync"] and s["start"] <= start)
            else:
                first = min(i for i, s in enumerate(expected) if s["start"] >= start)
            last = max(i for i, s in enumerate(expected) if s["start"] < stop)
            self.assertEqual([s["md5"] for s in samples],
                             [s["md5"] for s in expected[first:last + 1]], pin)
            self.assertEqual(samples[0]["start"], expected[first]["start"] - start)
            self.assertTrue(samples[0]["discontinuity"])
            self.assertEqual(samples[0]["preroll"], expected[first]["stop"] - start < 10000)

        # A seek while running: flush, a new segment at the target, then its samples.
        result, pins, _ = self.play(url, "--seek", "3:7")
        self.assertEqual(result.returncode, 0, result.stderr)
        for pin, expected in ((0, video), (1, audio)):
            events = [e.get("event") for e in pins[pin]]
            at = events.index("beginflush")
            end = events.index("endflush", at)
            # Nothing is delivered during the flush. A worker that was slow to start its
            # first loop may still announce the old segment in it.
            self.assertEqual(set(events[at + 1:end]) - {"newsegment"}, set(),
                             pins[pin][at:end + 1])
            self.assertEqual(events[end + 1], "newsegment")
            self.assertEqual(pins[pin][end + 1]["start"], 7 * TICKS)
            after = [s for s in pins[pin][end + 2:] if "md5" in s]
            self.assertTrue(after[0]["discontinuity"])
            target = 7 * TICKS
            if pin == 0:
                first = max(i for i, s in enumerate(expected) if s["sync"] and s["start"] <= target)
            else:
                first = min(i for i, s in enumerate(expected) if s["start"] >= target)
            self.assertEqual([s["md5"] for s in after], [s["md5"] for s in expected[first:]])
            self.assertEqual(events.count("eos"), 1)

    def test_live_plays_from_the_edge_without_segments_until_announcements_stop(self):
        url = base("nginx") + "media/live/pres.ism/Manifest"
        result, pins, errors = self.play(url, "--duration", "60")
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(errors, [])
        for pin, received in pins.items():
            self.assertNotIn("newsegment", [e.get("event") for e in received])
            samples = [s for s in received if "md5" in s]
            self.assertTrue(samples)
            self.assertTrue(samples[0]["discontinuity"])
            self.assertEqual(received[-1]["event"], "eos")
            starts = [s["start"] for s in samples]
            self.assertEqual(starts, sorted(starts), pin)

    def test_repeat_coded_chunk_lists_deliver_the_samples_of_the_plain_ones(self):
        path, url, source, (video, audio) = served_presentation(self, "rcoded", 1)
        # Video: one element for all five chunks and no count declared; audio: one
        # element per chunk, the two equal ones as one, a smaller count declared.
        self.assertEqual(audio[1], audio[2])
        lists = [f'<c t="0" d="{video[0]}" r="5" />',
                 f'<c t="0" d="{audio[0]}" /><c d="{audio[1]}" r="2" />' +
                 "".join(f'<c d="{d}" />' for d in audio[3:])]
        parts = re.split(r'(?:<c n="\d+" d="\d+" />\n)+', source)
        coded = parts[0] + lists[0] + parts[1] + lists[1] + parts[2]
        write_atomically(path, coded.replace('Chunks="5"', 'Chunks="0"', 1).replace(
            'Chunks="5"', 'Chunks="2"'))

        def samples(url):
            result, pins, errors = self.play(url)
            self.assertEqual((result.returncode, errors), (0, []), result.stderr)
            return {pin: [(s["start"], s["stop"], s["md5"]) for s in received if "md5" in s]
                    for pin, received in pins.items()}

        plain = samples(base("nginx") + "media/vod/pres.ism/Manifest")
        self.assertEqual(len(plain), 2)
        self.assertEqual(samples(url), plain)

    def test_live_without_lookahead_follows_a_growing_manifest_and_ends_when_it_stops(self):
        # Ten chunks listed, the play starting 8 s before their end: 24 s of wall time
        # need the refreshes; without growth the streams end 10 s after the last chunk.
        for grow in (True, False):
            path, url, source, durations = served_presentation(self, f"live{grow}", 6)
            head, *indexes = source.replace('Duration="100213333"', 'Duration="0" IsLive="TRUE"') \
                .replace('Chunks="5"', 'Chunks="0"').split("<StreamIndex")

            def manifest(count):
                return head + "".join(
                    "<StreamIndex" + index.split("<c ", 1)[0] + '<c t="0" ' +
                    "<c ".join(f'd="{ds[k % 5]}" />' for k in range(count)) + "</StreamIndex>"
                    for index, ds in zip(indexes, durations)) + "</SmoothStreamingMedia>"

            write_atomically(path, manifest(10))
            stop = threading.Event()
            writer = threading.Thread(target=lambda: [
                write_atomically(path, manifest(count)) for count in range(11, 30)
                if not stop.wait(2.0)])
            if grow:
                writer.start()
            started = time.monotonic()
            try:
                result, pins, errors = self.play(url, "--realtime", "--duration", "24")
            finally:
                stop.set()
            seconds = time.monotonic() - started
            self.assertEqual((result.returncode, errors, len(pins)), (0, [], 2), result.stderr)
            for pin, received in pins.items():
                samples = [s for s in received if "md5" in s]
                for previous, sample in zip(samples, samples[1:]):
                    self.assertEqual(sample["start"], previous["stop"], (grow, pin, sample))
                span = samples[-1]["stop"] - samples[0]["start"]
                if grow:
                    self.assertNotIn("eos", [e.get("event") for e in received], pin)
                    self.assertGreater(span, 18 * TICKS, pin)
                else:
                    self.assertEqual(received[-1]["event"], "eos", pin)
                    self.assertLess(span, 10 * TICKS, pin)
            if grow:
                writer.join()
            else:
                self.assertLess(seconds, 22)

    def test_failures_end_each_stream_and_exit_non_zero(self):
        # Nothing serves the fixture's fragments: the audio pin fails, the H.264 pin with
        # a cut parameter set has no type and stays unconnected.
        url = base("nginx") + "fixtures/codings.ism/Manifest"
        result, pins, errors = self.play(url)
        self.assertEqual(result.returncode, 1)
        self.assertIn("0x80070002", result.stderr)
        self.assertEqual(errors, [{"event": "error", "hr": "0x80070002"}])
        self.assertEqual([e.get("event") for e in pins[1]], ["newsegment", "eos"])
        self.assertNotIn(0, pins)

        result = self.kvssf("play", base("nginx") + "media/none.ism/Manifest", "--quiet")
        self.assertEqual(result.returncode, 1)
        self.assertIn("0x80070002", result.stderr)
        for bad in (["--seek", "3"], ["--start", "x"], ["--bogus"], []):
            args = (["play", url] if bad else ["play"]) + bad
            self.assertEqual(self.kvssf(*args).returncode, 2, bad)


if __name__ == "__main__":
    KVSSF, ORIGIN = sys.argv[1], sys.argv[2]
    unittest.main(argv=sys.argv[:1], verbosity=2)
