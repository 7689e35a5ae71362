#!/usr/bin/env python3
"""kvssf play against a flaky origin: retried faults, final client errors and the lines
that name them, and the temporary files a killed process leaves.

    kvssf_faults_test.py KVSSF ORIGIN_DIR
"""

import os
import re
import signal
import subprocess
import sys
import tempfile
import time
import unittest
import urllib.parse
import urllib.request

from sample_log import read_log

KVSSF = None
ORIGIN = None
VIDEO_CHUNK_1 = "QualityLevels(300000)/Fragments(video=20000000)"
AUDIO_CHUNK_1 = "QualityLevels(128000)/Fragments(audio=20000000)"
STREAM_FAILURE = re.compile(r'^kvssf play: stream "(video|audio)" level (\d+) bit/s chunk (\d+) '
                            r'\((\S+)\): (.*)$', re.M)


def faults():
    with open(os.path.join(ORIGIN, "faults.url")) as f:
        return f.read().strip()


def unique(prefix):
    return "%s-%d-%d" % (prefix, os.getpid(), time.monotonic_ns())


def flaky(name, manifest_faults, chunk_faults):
    return "%sflaky/%s/%s/%s/Manifest" % (faults(), name, manifest_faults, chunk_faults)


def requests(name, path):
    query = urllib.parse.urlencode({"tag": name + "/" + path})
    with urllib.request.urlopen(faults() + "count?" + query, timeout=30) as response:
        return int(response.read())


def tmv_files(directory):
    return [f for f in os.listdir(directory) if f.startswith("TMV")]


class KvssfFaults(unittest.TestCase):
    def setUp(self):
        self.temp = tempfile.TemporaryDirectory(prefix="kvssf-faults-")
        self.env = dict(os.environ, TMPDIR=self.temp.name)

    def tearDown(self):
        self.temp.cleanup()

    def play(self, url):
        """(result, per-pin lists of what the sinks received, the error lines)."""
        log = os.path.join(self.temp.name, "out-samples.jsonl")
        result = subprocess.run([KVSSF, "play", url, "--samples", log, "--quiet"], env=self.env,
                                capture_output=True, text=True, timeout=120)
        pins, errors = read_log(log)
        return result, pins, errors

    def test_retried_faults_deliver_the_samples_of_a_clean_run(self):
        result, clean, errors = self.play(flaky(unique("clean"), "-", "-"))
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(errors, [])
        self.assertEqual(sorted(clean), [0, 1])
        # The manifest meets a 503 and a reset; chunk 1 of each stream a 503 asking for
        # a second and a reset, then a body closed half way.
        for manifest_faults, chunk_faults in (("503+reset", "503r1+reset"), ("-", "close+500")):
            name = unique("flaky")
            result, pins, errors = self.play(flaky(name, manifest_faults, chunk_faults))
            self.assertEqual(result.returncode, 0, result.stderr)
            self.assertEqual(errors, [])
            self.assertEqual(pins, clean, chunk_faults)
            self.assertEqual(requests(name, "Manifest"), 1 if manifest_faults == "-" else 3)
            self.assertEqual(requests(name, VIDEO_CHUNK_1), 3)
            self.assertEqual(requests(name, AUDIO_CHUNK_1), 3)

    def test_client_error_fails_the_stream_without_a_retry(self):
        name = unique("missing")
        result, pins, errors = self.play(flaky(name, "-", "404"))
        self.assertEqual(result.returncode, 1)
        self.assertIn("0x80070002", result.stderr)
        self.assertIn({"event": "error", "hr": "0x80070002"}, errors)
        self.assertEqual(requests(name, VIDEO_CHUNK_1), 1)
        self.assertLessEqual(requests(name, AUDIO_CHUNK_1), 1)

    def run_kvssf(self, command, url):
        arguments = [KVSSF, command, url] + (["--quiet"] if command == "play" else [])
        return subprocess.run(arguments, env=self.env, capture_output=True, text=True,
                              timeout=120)

    def test_manifest_failure_line_names_the_status_and_the_url(self):
        status = faults() + "status/%d/p.ism/Manifest"
        cases = [  # command, URL, the line's words after "<URL>: " (None: no status)
            ("info", status % 404, "HTTP 404 Not Found (0x80070002: "),
            ("play", status % 403, "HTTP 403 Forbidden (0x80070002: "),
            ("play", status % 401, "HTTP 401 Unauthorized (0x80070005: "),
            ("info", status % 302, "HTTP 302 Found, a redirect that is not followed (0x80070002"),
            ("play", status % 503, "HTTP 503 Service Unavailable (0x80070002: "),
            ("info", flaky(unique("manifest"), "reset+reset+reset", "-"), None),
        ]
        for command, url, words in cases:
            with self.subTest(command=command, url=url):
                result = self.run_kvssf(command, url)
                self.assertEqual(result.returncode, 1, result.stderr)
                prefix = "kvssf %s: %s: " % (command, url)
                self.assertIn(prefix + (words or "0x8007"), result.stderr)
                if words is None:
                    self.assertNotIn("HTTP ", result.stderr)

    def test_fragment_failure_line_names_stream_level_chunk_status_and_url(self):
        cases = [  # chunk 1's faults, the line's words after the fragment's URL
            ("404", "HTTP 404 Not Found (0x80070002: "),
            ("503+503+503", "HTTP 503 Service Unavailable (0x80070002: "),
            ("307", "HTTP 307 Temporary Redirect, a redirect that is not followed (0x80070002"),
            ("close+close+close", "0x80072EFE: the connection was closed"),
        ]
        levels = {"video": ("300000", VIDEO_CHUNK_1), "audio": ("128000", AUDIO_CHUNK_1)}
        for chunk_faults, words in cases:
            with self.subTest(chunk_faults=chunk_faults):
                manifest = flaky(unique("chunk"), "-", chunk_faults)
                result = self.run_kvssf("play", manifest)
                self.assertEqual(result.returncode, 1, result.stderr)
                match = STREAM_FAILURE.search(result.stderr)
                self.assertIsNotNone(match, result.stderr)
                kind, level, chunk, url, rest = match.groups()
                self.assertEqual((level, chunk), (levels[kind][0], "1"))
                self.assertEqual(url, manifest[:-len("Manifest")] + levels[kind][1])
                self.assertTrue(rest.startswith(words), rest)

    @unittest.skipUnless(os.path.isdir("/proc/self/fd"), "needs /proc")
    def test_killed_mid_download_leaves_no_temporary_file(self):
        name = unique("killed")
        # Chunk 1 sends half its body, then holds the connection.
        process = subprocess.Popen([KVSSF, "play", flaky(name, "-", "hold"), "--quiet"],
                                   env=self.env, stdout=subprocess.DEVNULL,
                                   stderr=subprocess.DEVNULL)
        try:
            deadline = time.monotonic() + 30
            while requests(name, VIDEO_CHUNK_1) < 1 and time.monotonic() < deadline:
                time.sleep(0.05)
            time.sleep(0.5)
            self.assertIsNone(process.poll(), "kvssf ended before the held download")
            fd_dir = "/proc/%d/fd" % process.pid
            open_tmv = []
            for fd in os.listdir(fd_dir):
                try:
                    target = os.readlink(os.path.join(fd_dir, fd))
                except OSError:
                    continue
                if target.startswith(os.path.join(self.temp.name, "TMV")):
                    open_tmv.append(target)
            self.assertNotEqual(open_tmv, [], "no body is being stored")
            self.assertEqual(tmv_files(self.temp.name), [], "a body has a name while open")
        finally:
            process.send_signal(signal.SIGKILL)
            process.wait(timeout=30)
        self.assertEqual(tmv_files(self.temp.name), [])


if __name__ == "__main__":
    KVSSF, ORIGIN = sys.argv[1], sys.argv[2]
    unittest.main(argv=sys.argv[:1], verbosity=2)
