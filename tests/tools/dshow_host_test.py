#!/usr/bin/env python3
"""dshow-host under Wine against the test origin: the DLL registered with regsvr32, the
filter created through COM in the system's filter graph, and the samples its pins deliver
compared with what `kvssf play` of the native build delivers for the same URL and options.

    dshow_host_test.py DSHOW_HOST KVSSFRD_DLL NATIVE_KVSSF ORIGIN_DIR WINE_RUN
"""

import json
import os
import subprocess
import sys
import tempfile
import unittest

from sample_log import read_log

DSHOW_HOST = DLL = KVSSF = ORIGIN = WINE_RUN = None


def base(scheme="http"):
    with open(os.path.join(ORIGIN, "nginx.url")) as f:
        url = f.read().strip()
    return scheme + url[len("http"):]


def windows_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def wine(*args, timeout=120):
    return subprocess.run([WINE_RUN, *args], capture_output=True, text=True, timeout=timeout,
                          env=dict(os.environ, KVSSF_ORIGIN_DIR=ORIGIN))


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

    def test_auto_quality_decodes_through_the_processor_as_the_linux_build(self):
        # Wine's graph runs the processor over the stand-ins registered in the prefix; the
        # frames, their times, flags and bytes are those of kvssf. kvssf's log also names
        # each frame's level, which dshow-host cannot know.
        url = base("kvssf") + "media/vod/pres.ism/Manifest"
        info = subprocess.run([KVSSF, "info", url + "?_ssf_Bitrate=auto", "--json"],
                              capture_output=True, text=True, timeout=60)
        video = json.loads(info.stdout)["streams"][0]
        width, height = video["display_width"], video["display_height"]
        for options in (["--bitrate", "auto"], ["--bitrate", "auto", "--seek", "1:3.1"]):
            with self.subTest(options=options):
                (result, pins, errors), (_, expected, expected_errors) = self.both(
                    url, *options, quiet=False)
                self.assertEqual(result.returncode, 0, result.stderr)
                self.assertIn("pin 0: video YUY2 %dx%d" % (width, height), result.stderr)
                self.assertEqual(errors, expected_errors)
                frames = [e for e in pins[0] if "md5" in e]
                self.assertGreater(len(frames), 10)
                self.assertEqual({f["size"] for f in frames}, {width * height * 2})
                for pin in expected:
                    native = [{k: v for k, v in e.items() if k != "level"} for e in expected[pin]]
                    if "--seek" in options:
                        # How far the pins got before the seek depends on timing.
                        native = native[[e.get("event") for e in native].index("endflush"):]
                        got = pins[pin][[e.get("event") for e in pins[pin]].index("endflush"):]
                    else:
                        got = pins[pin]
                    self.assertEqual(got, native, "pin %d" % pin)

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
