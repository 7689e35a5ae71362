#!/usr/bin/env python3
"""kvssf boxes over every fragment the test origin serves, and over malformed bodies.

    kvssf_boxes_test.py KVSSF ORIGIN_DIR
"""

import json
import os
import struct
import subprocess
import sys
import tempfile
import unittest
import urllib.request

KVSSF = None
ORIGIN = None
PRESENTATIONS = ("vod", "lang", "live")


def base(server):
    with open(os.path.join(ORIGIN, server + ".url")) as f:
        return f.read().strip()


def mdat_payload(body):
    """(offset, length) of the first top-level mdat's payload, walked independently."""
    pos = 0
    while pos + 8 <= len(body):
        size, kind = struct.unpack(">I4s", body[pos:pos + 8])
        header = 8
        if size == 1:
            size = struct.unpack(">Q", body[pos + 8:pos + 16])[0]
            header = 16
        elif size == 0:
            size = len(body) - pos
        if kind == b"mdat":
            return pos + header, size - header
        pos += size
    raise AssertionError("no mdat")


class KvssfBoxes(unittest.TestCase):
    def setUp(self):
        self.temp = tempfile.TemporaryDirectory(prefix="kvssf-boxes-")
        self.env = dict(os.environ, TMPDIR=self.temp.name)

    def tearDown(self):
        left = os.listdir(self.temp.name)
        self.temp.cleanup()
        self.assertEqual(left, [], "temporary files left behind")

    def run_kvssf(self, *args):
        return subprocess.run([KVSSF, *args], env=self.env, capture_output=True, text=True,
                              timeout=60)

    def boxes(self, source):
        result = self.run_kvssf("boxes", source, "--json")
        return result, json.loads(result.stdout) if result.stdout else None

    def test_every_served_fragment(self):
        checked = {"fragments": 0, "lookahead": 0}
        for name in PRESENTATIONS:
            manifest_url = base("nginx") + "media/%s/pres.ism/Manifest" % name
            info = self.run_kvssf("info", manifest_url, "--json")
            self.assertEqual(info.returncode, 0, info.stderr)
            model = json.loads(info.stdout)
            for stream in model["streams"]:
                for track in stream["tracks"]:
                    self.check_track(model, stream, track, checked)
        self.assertGreaterEqual(checked["fragments"], 40)
        self.assertGreater(checked["lookahead"], 0, "no look-ahead entry was compared")

    def check_track(self, model, stream, track, checked):
        chunks = stream["chunks"]
        for index, (start, duration) in enumerate(chunks):
            path = (stream["url"].replace("{bitrate}", str(track["bitrate"]))
                    .replace("{start time}", str(start)))
            url = model["manifest"]["base_url"] + path
            result, parsed = self.boxes(url)
            self.assertEqual(result.returncode, 0, url + ": " + result.stderr)
            self.assertEqual(parsed["result"], "0x00000000")
            checked["fragments"] += 1
            with urllib.request.urlopen(url, timeout=30) as response:
                body = response.read()
            offset, length = mdat_payload(body)
            samples = parsed["samples"]
            self.assertTrue(samples, url)
            self.assertEqual(sum(s["size"] for s in samples), length, url)
            self.assertEqual(samples[0]["data_position"], offset, url)
            self.assertEqual(sum(s["duration"] for s in samples), parsed["total_duration"])
            # The encoder's fragment lengths and the manifest's agree to a frame or so.
            self.assertLess(abs(parsed["total_duration"] - duration), duration * 0.05, url)
            if stream["kind"] == "video":
                self.assertTrue(samples[0]["sync"], url)
            for k, entry in enumerate(parsed["lookahead"]):
                if index + 1 + k < len(chunks):
                    self.assertEqual([entry["time"], entry["duration"]], chunks[index + 1 + k],
                                     url)
                    checked["lookahead"] += 1

    def test_malformed_and_missing_bodies(self):
        fragment = os.path.join(ORIGIN, "www", "media", "vod", "pres.ism",
                                "QualityLevels(128000)", "Fragments(audio=0)")
        with open(fragment, "rb") as f:
            body = f.read()
        offset, _ = mdat_payload(body)
        cut = os.path.join(self.temp.name, "cut")
        for length in (0, 7, 30, offset - 9):
            with open(cut, "wb") as f:
                f.write(body[:length])
            result, parsed = self.boxes(cut)
            self.assertEqual(result.returncode, 1, length)
            self.assertEqual(parsed["result"], "0x80004005", length)
            self.assertIn("0x80004005", result.stderr)
        os.remove(cut)

        result = self.run_kvssf("boxes", os.path.join(self.temp.name, "none"))
        self.assertEqual(result.returncode, 1)
        self.assertIn("0x80070002", result.stderr)
        result = self.run_kvssf("boxes", base("nginx") + "media/vod/pres.ism/none")
        self.assertEqual(result.returncode, 1)
        self.assertIn("0x80070002", result.stderr)
        self.assertEqual(self.run_kvssf("boxes").returncode, 2)
        self.assertEqual(self.run_kvssf("boxes", "a", "b").returncode, 2)


if __name__ == "__main__":
    KVSSF, ORIGIN = sys.argv[1], sys.argv[2]
    unittest.main(argv=sys.argv[:1], verbosity=2)
