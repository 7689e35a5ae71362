#!/usr/bin/env python3
"""kvssf stopped by SIGINT, SIGTERM and a closed output pipe, and the error lines a user
can act on.

    kvssf_stop_test.py KVSSF ORIGIN_DIR
"""

import http.server
import json
import os
import re
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time
import unittest

from sample_log import read_log

KVSSF = None
ORIGIN = None

ONE_STREAM_MANIFEST = b"""<?xml version="1.0" encoding="utf-8"?>
<SmoothStreamingMedia MajorVersion="2" MinorVersion="0" Duration="40000000">
<StreamIndex Type="audio" QualityLevels="1" Chunks="2" Url="QualityLevels({bitrate})/Fragments(audio={start time})">
<QualityLevel Index="0" Bitrate="128000" FourCC="AACL" SamplingRate="48000" Channels="2" BitsPerSample="16" PacketSize="4" AudioTag="255" CodecPrivateData="1190" />
<c d="20000000" /><c d="20000000" />
</StreamIndex>
</SmoothStreamingMedia>
"""

# Documents the origin does not serve: /doc/Manifest is well-formed XML of another kind,
# /corrupt/ a manifest whose fragments are not fragments.
DOCUMENTS = {
    "/doc/Manifest": b'<?xml version="1.0"?>\n<html><body>moved</body></html>\n',
    "/corrupt/Manifest": ONE_STREAM_MANIFEST,
}


class DocumentHandler(http.server.BaseHTTPRequestHandler):
    def do_GET(self):
        body = DOCUMENTS.get(self.path)
        if body is None and self.path.startswith("/corrupt/"):
            body = b"this is no fragment " * 20
        if body is None:
            self.send_error(404)
            return
        self.send_response(200)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def log_message(self, fmt, *args):
        pass


def serve_not_http(listener):
    """Answers every connection with a line of another protocol."""
    while True:
        connection, _ = listener.accept()
        with connection:
            connection.recv(4096)
            connection.sendall(b"SSH-2.0-OpenSSH_9.2\r\nProtocol mismatch.\r\n")


def base(server):
    with open(os.path.join(ORIGIN, server + ".url")) as f:
        return f.read().strip()


class KvssfStop(unittest.TestCase):
    def setUp(self):
        self.temp = tempfile.TemporaryDirectory(prefix="kvssf-stop-")
        self.env = dict(os.environ, TMPDIR=self.temp.name)
        self.vod = base("nginx") + "media/vod/pres.ism/Manifest"

    def tearDown(self):
        self.temp.cleanup()

    def path(self, name):
        return os.path.join(self.temp.name, name)

    def start_play(self, *args, **popen):
        return subprocess.Popen([KVSSF, "play", *args], env=self.env, stderr=subprocess.PIPE,
                                **popen)

    def wait_for_media(self, path, seconds, process):
        """Until the log holds a sample that stops at or after seconds."""
        deadline = time.monotonic() + 30
        while time.monotonic() < deadline and process.poll() is None:
            if os.path.exists(path):
                with open(path, "rb") as f:
                    lines = f.read().split(b"\n")[:-1]
                entries = [json.loads(line) for line in lines]
                if any("md5" in e and e["stop"] >= seconds * 1e7 for e in entries):
                    return
            time.sleep(0.05)
        self.fail("the play never got under way")

    def test_signal_mid_play_finalises_recording_and_log(self):
        for sig, status, reason in ((signal.SIGINT, 130, "interrupted"),
                                    (signal.SIGTERM, 143, "terminated")):
            with self.subTest(reason):
                out, log = self.path(reason + ".mkv"), self.path(reason + ".jsonl")
                # Paced by the clock, the 10 s presentation is far from its end.
                play = self.start_play(self.vod, "--realtime", "-o", out, "--samples", log,
                                       "--quiet")
                self.wait_for_media(log, 3, play)
                play.send_signal(sig)
                stderr = play.communicate(timeout=20)[1].decode()
                self.assertEqual(play.returncode, status, stderr)
                self.assertRegex(stderr, r"^kvssf play: %s: stopped after \d+\.\d s, "
                                 r"recording finalised\n$" % reason)

                with open(log, "rb") as f:
                    text = f.read()
                self.assertTrue(text.endswith(b"\n"), text[-80:])
                pins, errors = read_log(log)  # every line parses
                self.assertEqual(errors, [])
                samples = [e for pin in pins.values() for e in pin if "md5" in e]
                self.assertTrue(samples)
                self.assertNotIn("eos", [e.get("event") for e in pins[0]], "stopped early")

                probe = subprocess.run(
                    ["ffprobe", "-v", "error", "-show_entries", "format=duration", "-of",
                     "csv=p=0", out], capture_output=True, text=True)
                self.assertEqual(probe.stderr, "")
                duration = float(probe.stdout)
                recorded = max(s["stop"] for s in samples) / 1e7
                self.assertGreater(duration, 2)
                self.assertLess(abs(duration - recorded), 0.5, (duration, recorded))

    def test_closed_output_pipe_stops_with_141(self):
        for output in (["-o", "-"], ["--samples", "-"]):
            with self.subTest(output[0]):
                play = self.start_play(self.vod, "--realtime", "--quiet", *output,
                                       stdout=subprocess.PIPE)
                self.assertEqual(len(play.stdout.read(1000)), 1000)
                play.stdout.close()
                stderr = play.communicate(timeout=20)[1].decode()
                self.assertEqual(play.returncode, 141, stderr)
                self.assertRegex(stderr, r"^kvssf play: output closed: stopped after \d+\.\d s"
                                 r"(, recording cut short)?\n$")

        # The shell's view of the same.
        shell = subprocess.run(
            ["bash", "-c", '"$0" play "$1" -o - | head -c 1000 >/dev/null; '
             'echo "${PIPESTATUS[0]}"', KVSSF, self.vod],
            env=self.env, capture_output=True, text=True, timeout=60)
        self.assertEqual(shell.stdout, "141\n", shell.stderr)
        self.assertNotIn("Traceback", shell.stderr)

    def test_second_interrupt_ends_at_once(self):
        # Loading waits for a held fragment (30 s): the first SIGINT is only noted.
        play = self.start_play(base("faults") + "held/Manifest", "--quiet")
        time.sleep(1)
        play.send_signal(signal.SIGINT)
        time.sleep(0.5)
        self.assertIsNone(play.poll(), "the first SIGINT waits for the load")
        began = time.monotonic()
        play.send_signal(signal.SIGINT)
        stderr = play.communicate(timeout=10)[1].decode()
        self.assertLess(time.monotonic() - began, 3)
        self.assertEqual(play.returncode, 130)
        self.assertEqual(stderr, "kvssf play: interrupted: stopping once loaded "
                         "(again: end at once)\nkvssf play: interrupted again: ended at once\n")


class KvssfErrorLines(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.documents = http.server.ThreadingHTTPServer(("127.0.0.1", 0), DocumentHandler)
        threading.Thread(target=cls.documents.serve_forever, daemon=True).start()
        cls.not_http = socket.create_server(("127.0.0.1", 0))
        threading.Thread(target=serve_not_http, args=(cls.not_http,), daemon=True).start()

    @classmethod
    def tearDownClass(cls):
        cls.documents.shutdown()
        cls.documents.server_close()
        cls.not_http.close()

    def test_each_failure_names_its_cause(self):
        temp = tempfile.TemporaryDirectory(prefix="kvssf-errors-")
        self.addCleanup(temp.cleanup)
        documents = "http://127.0.0.1:%d/" % self.documents.server_address[1]
        not_http = "http://127.0.0.1:%d/p.ism/Manifest" % self.not_http.getsockname()[1]
        vod = base("nginx") + "media/vod/pres.ism/Manifest"
        missing = os.path.join(temp.name, "missing")
        # (command, URL, TMPDIR, the line's expected start, words after the code)
        cases = (
            ("info", vod, missing, vod + ": 0x80070002", ["temporary directory", missing]),
            ("play", vod, missing, vod + ": 0x80070002", ["temporary directory", missing]),
            ("info", documents + "doc/Manifest", temp.name, documents + "doc/Manifest: 0x80040265",
             ["not a Smooth Streaming manifest"]),
            ("play", documents + "doc/Manifest", temp.name, documents + "doc/Manifest: 0x80040265",
             ["not a Smooth Streaming manifest"]),
            ("info", not_http, temp.name, not_http + ": 0x80072EE6", ["reply is not HTTP"]),
            ("play", documents + "corrupt/Manifest", temp.name, 'stream "',
             [" chunk 0 (" + documents + "corrupt/QualityLevels(", "): 0x80004005",
              "fragment is corrupt"]),
        )
        for command, url, tmpdir, start, words in cases:
            with self.subTest(command=command, url=url):
                result = subprocess.run([KVSSF, command, url, *(["--quiet"] * (command == "play"))],
                                        env=dict(os.environ, TMPDIR=tmpdir), capture_output=True,
                                        text=True, timeout=60)
                self.assertEqual(result.returncode, 1, result.stderr)
                lines = [l for l in result.stderr.splitlines() if not l.startswith("pin ")]
                self.assertEqual(len(lines), 1, result.stderr)
                self.assertTrue(lines[0].startswith("kvssf %s: %s" % (command, start)), lines[0])
                for word in words:
                    self.assertIn(word, lines[0])
                # The wordings these codes carry elsewhere.
                for other in ("server answered", "scheme is not supported",
                              "unsupported URL or presentation"):
                    self.assertNotIn(other, lines[0])


if __name__ == "__main__":
    KVSSF, ORIGIN = sys.argv[1], sys.argv[2]
    unittest.main(argv=sys.argv[:1], verbosity=2)
