#!/usr/bin/env python3
"""dshow-host under Wine against the test origin: the DLL registered with regsvr32, the
filter created through COM in the system's filter graph, and the samples its pins deliver
compared with what `kvssf play` of the native build delivers for the same URL and options.

    dshow_host_test.py DSHOW_HOST KVSSFRD_DLL NATIVE_KVSSF ORIGIN_DIR WINE_RUN
"""

import json
import os
import re
import subprocess
import sys
import tempfile
import time
import unittest

from sample_log import read_log

DSHOW_HOST = DLL = KVSSF = ORIGIN = WINE_RUN = None


def base(scheme="http", server="nginx"):
    with open(os.path.join(ORIGIN, server + ".url")) as f:
        url = f.read().strip()
    return scheme + url[len("http"):]


def without_levels(entries):
    """kvssf's log also names each frame's level, which dshow-host cannot know."""
    return [{k: v for k, v in e.items() if k != "level"} for e in entries]


def windows_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def wine(*args, timeout=120):
    return subprocess.run([WINE_RUN, *args], capture_output=True, text=True, timeout=timeout,
                          env=dict(os.environ, KVSSF_ORIGIN_DIR=ORIGIN))


def video_model(url):
    info = subprocess.run([KVSSF, "info", url + "?_ssf_Bitrate=auto", "--json"],
                          capture_output=True, text=True, timeout=60)
    return json.loads(info.stdout)["streams"][0]


def prefix_temp_files():
    """The source's temporary files (TMV*.tmp) in the Wine prefix."""
    root = os.path.join(os.path.dirname(ORIGIN), "wineprefix", "drive_c", "users")
    found = []
    for folder, _, files in os.walk(root):
        found += [os.path.join(folder, f) for f in files if f.upper().startswith("TMV")]
    return sorted(found)


class DshowHost(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        if not os.access(KVSSF, os.X_OK):
            raise AssertionError("the native kvssf is missing (%s): build the native preset first"
                                 % KVSSF)
        result = wine("regsvr32", "/s", windows_path(DLL))
        assert result.returncode == 0, "regsvr32 failed: %s" % result.stderr

    @classmethod
    def tearDownClass(cls):
        wine("regsvr32", "/s", "/u", windows_path(DLL))

    def setUp(self):
        self.temp = tempfile.TemporaryDirectory(prefix="dshow-host-")
        self.leftover = prefix_temp_files()

    def tearDown(self):
        self.temp.cleanup()
        self.assertEqual(prefix_temp_files(), self.leftover, "temporary files left in the prefix")

    def host(self, url, *options, quiet=True):
        """(result, pins, errors) of dshow-host under Wine."""
        log = os.path.join(self.temp.name, "host.jsonl")
        result = wine(DSHOW_HOST, url, "--samples", windows_path(log),
                      *(["--quiet"] if quiet else []), *options)
        pins, errors = read_log(log) if os.path.exists(log) else ({}, [])
        return result, pins, errors

    def native(self, url, *options):
        """(result, pins, errors) of kvssf play on Linux."""
        log = os.path.join(self.temp.name, "native.jsonl")
        result = subprocess.run([KVSSF, "play", url, "--samples", log, "--quiet", *options],
                                capture_output=True, text=True, timeout=120,
                                env=dict(os.environ, TMPDIR=self.temp.name))
        pins, errors = read_log(log)
        return result, pins, errors

    def both(self, url, *options, grabber=False, quiet=True):
        host = self.host(url, *options, *(["--grabber"] if grabber else []), quiet=quiet)
        native = self.native(url, *options)
        self.assertEqual(host[0].returncode, native[0].returncode,
                         (host[0].stderr, native[0].stderr))
        return host, native

    def test_plays_sample_for_sample_as_the_linux_build(self):
        cases = [
            (base() + "media/vod/pres.ism/Manifest", []),
            (base("kvssf") + "media/vod/pres.ism/Manifest", []),
            (base() + "media/vod/pres.ism/Manifest", ["--start", "3", "--stop", "7"]),
            (base("kvssf") + "media/vod/pres.ism/Manifest", ["--bitrate", "lowest"]),
            (base() + "media/lang/pres.ism/Manifest", ["--language", "fra"]),
            (base() + "media/live/pres.ism/Manifest", ["--duration", "60"]),
        ]
        for url, options in cases:
            with self.subTest(url=url, options=options):
                (result, pins, errors), (_, expected, expected_errors) = self.both(url, *options)
                self.assertEqual(result.returncode, 0, result.stderr)
                self.assertEqual(errors, expected_errors)
                self.assertGreaterEqual(len(pins), 2)
                self.assertEqual(sorted(pins), sorted(expected))
                for pin in expected:
                    self.assertEqual(pins[pin], expected[pin], "pin %d" % pin)
                    self.assertEqual(pins[pin][-1]["event"], "eos")
                    self.assertTrue(any("md5" in e for e in pins[pin]))

    def test_seek_while_running_delivers_the_same_segment_after_the_flush(self):
        url = base("kvssf") + "media/vod/pres.ism/Manifest"
        _, whole, _ = self.native(url)
        (result, pins, _), (_, expected, _) = self.both(url, "--seek", "3:7")
        self.assertEqual(result.returncode, 0, result.stderr)
        for pin in expected:
            events = [e.get("event") for e in pins[pin]]
            self.assertEqual(events.count("beginflush"), 1, pin)
            self.assertEqual(events.count("endflush"), 1, pin)
            flush = events.index("endflush")
            self.assertEqual(pins[pin][flush + 1]["start"], 7 * 10000000)
            # How far the pin got before the seek depends on timing; what it got is the
            # start of the whole presentation's samples.
            before = [e for e in pins[pin][:flush] if "event" not in e or
                      e["event"] == "newsegment"]
            self.assertEqual(before, whole[pin][:len(before)], pin)
            # From the new segment on, the samples are the Linux build's.
            native_flush = [e.get("event") for e in expected[pin]].index("endflush")
            self.assertEqual(pins[pin][flush + 1:], expected[pin][native_flush + 1:], pin)
            self.assertGreater(len(pins[pin]) - flush, 10)

    def test_system_grabbers_receive_the_same_samples(self):
        url = base() + "media/vod/pres.ism/Manifest"
        for options in ([], ["--start", "3", "--stop", "7"]):
            with self.subTest(options=options):
                (result, pins, _), (_, expected, _) = self.both(url, *options, grabber=True)
                self.assertEqual(result.returncode, 0, result.stderr)
                for pin in expected:
                    samples = [e for e in expected[pin] if "md5" in e]
                    self.assertTrue(samples)
                    self.assertEqual(pins[pin], samples, "pin %d" % pin)

    def auto_as_the_linux_build(self, url, *options):
        """Plays url in "auto" mode on both builds: the frames are YUY2 at the display size
        and every pin's entries from the first flush on (all of them without a seek) are
        kvssf's. Returns kvssf's video entries."""
        video = video_model(url)
        width, height = video["display_width"], video["display_height"]
        (result, pins, errors), (_, expected, expected_errors) = self.both(
            url, "--bitrate", "auto", *options, quiet=False)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertIn("pin 0: video YUY2 %dx%d" % (width, height), result.stderr)
        self.assertEqual(errors, expected_errors)
        frames = [e for e in pins[0] if "md5" in e]
        self.assertGreater(len(frames), 10)
        self.assertEqual({f["size"] for f in frames}, {width * height * 2})
        for pin in expected:
            native, got = without_levels(expected[pin]), pins[pin]
            if "--seek" in options:
                # How far the pins got before the seek depends on timing.
                native = native[[e.get("event") for e in native].index("endflush"):]
                got = got[[e.get("event") for e in got].index("endflush"):]
            self.assertEqual(got, native, "pin %d" % pin)
        return expected[0]

    def test_auto_quality_decodes_through_the_processor_as_the_linux_build(self):
        # Wine's graph runs the processor over the stand-ins registered in the prefix.
        url = base("kvssf") + "media/vod/pres.ism/Manifest"
        for options in ([], ["--seek", "1:3.1"]):
            with self.subTest(options=options):
                self.auto_as_the_linux_build(url, *options)

    def test_auto_quality_switches_levels_as_the_linux_build(self):
        # The second chunk's top-level fragment comes at 40 kB/s: the next chunk is
        # fetched at a lower level of another size, the one after at the top again.
        path = "media/vod/pres.ism/Manifest"
        video = video_model(base() + path)
        top = max(t["bitrate"] for t in video["tracks"])
        paced = base(server="faults") + "paced/40000/%d/%s" % (video["chunks"][1][0], path)
        native = self.auto_as_the_linux_build(paced)
        levels = [e["level"] for e in native if "md5" in e]
        self.assertLess(min(levels), top)
        self.assertEqual(levels[-1], top)

    def test_load_shows_progress_and_ends_promptly_when_aborted(self):
        # 6000 bytes at 1000 bytes per second, aborted from the host's watch thread.
        url = base(server="faults") + "trickle/Manifest?rate=1000&size=6000"
        result = wine(DSHOW_HOST, url, "--abort-load", "2.5")
        self.assertEqual(result.returncode, 1, result.stderr)
        self.assertIn("0x80004004", result.stderr)
        shown = [int(c) for c in re.findall(r"loading: (\d+) of 6000 bytes", result.stderr)]
        self.assertGreaterEqual(len([c for c in shown if 0 < c < 6000]), 2, result.stderr)
        self.assertEqual(shown, sorted(shown))
        ended = re.search(r"the load ended ([\d.]+) s after the abort", result.stderr)
        self.assertLess(float(ended.group(1)), 1.0)

    def test_a_killed_host_leaves_no_temporary_file(self):
        # The third video fragment comes slowly: the host is killed while it plays and
        # downloads.
        path = "media/vod/pres.ism/Manifest"
        slow = video_model(base() + path)["chunks"][2][0]
        url = base(server="faults") + "paced/2000/%d/%s" % (slow, path)
        log = os.path.join(self.temp.name, "host.jsonl")
        host = subprocess.Popen([WINE_RUN, DSHOW_HOST, url, "--quiet", "--samples",
                                 windows_path(log)], stdout=subprocess.DEVNULL,
                                stderr=subprocess.DEVNULL, env=dict(os.environ, KVSSF_ORIGIN_DIR=ORIGIN))
        try:
            deadline = time.monotonic() + 60
            while time.monotonic() < deadline and not (
                    os.path.exists(log) and os.path.getsize(log) > 0 and
                    len(prefix_temp_files()) > len(self.leftover)):
                time.sleep(0.1)
            self.assertGreater(len(prefix_temp_files()), len(self.leftover))
        finally:
            host.kill()
            host.wait()
        # Wine's server closes the killed process's handles, deleting its files.
        deadline = time.monotonic() + 10
        while prefix_temp_files() != self.leftover and time.monotonic() < deadline:
            time.sleep(0.1)

    def test_failures_end_the_stream_and_exit_non_zero(self):
        # Nothing serves the fixture's fragments: the audio pin fails; the H.264 pin with a
        # cut parameter set has no type and stays unconnected.
        for grabber in (False, True):
            with self.subTest(grabber=grabber):
                url = base() + "fixtures/codings.ism/Manifest"
                (result, pins, errors), (_, _, expected_errors) = self.both(url, grabber=grabber)
                self.assertEqual(result.returncode, 1)
                self.assertIn("0x80070002", result.stderr)
                self.assertEqual(errors, expected_errors)
                self.assertEqual(errors, [{"event": "error", "hr": "0x80070002"}])
                self.assertNotIn(0, pins)

        result, _, _ = self.host(base() + "media/none.ism/Manifest")
        self.assertEqual(result.returncode, 1)
        self.assertIn("0x80070002", result.stderr)
        for bad in (["--seek", "3"], ["--grabber", "--seek", "1:2"], ["--bogus"]):
            self.assertEqual(wine(DSHOW_HOST, base(), *bad).returncode, 2, bad)


if __name__ == "__main__":
    DSHOW_HOST, DLL, KVSSF, ORIGIN, WINE_RUN = sys.argv[1:6]
    unittest.main(argv=sys.argv[:1], verbosity=2)
