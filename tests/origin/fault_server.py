#!/usr/bin/env python3
"""HTTP server of faults and probes for the HTTP client tests.

    fault_server.py --port-file FILE [--tls CERT KEY] [--root DIR]

Binds 127.0.0.1 at a free port, writes its base URL ("http://127.0.0.1:PORT/" or, with
--tls, "https://localhost:PORT/") to FILE and serves until killed. Responses are
HTTP/1.0, one connection per request.

    /status/<code>[/...] that status; 301/302/303/307 carry Location: /echo?...
    /truncated           200, Content-Length 100000, 1000 bytes, then close
    /drop                read the request, close without answering
    /malformed/Manifest  200 text/xml that is not well-formed
    /echo?...            200, body: the request line and the headers as received
    /count?tag=T         200, body: how many requests (other than /count) carried tag=T
    /empty               200, empty body
    /big                 200, BIG_SIZE bytes, byte i = i % 251
    /fragment?pad=P&delay_ms=D&durations=D1,D2,...&sync=I,J,...
                         200 after D ms (default 0): a fragment body of samples of the
                         given durations (default 1000,3000) sharing P payload bytes
                         (default 100), those at the indexes in sync marked sync points
    /gate/<name>?...     as /fragment (same options), once /open/<name> was requested
                         (30 s at most, then 503)
    /open/<name>         200, opens the gate <name>
    /held/Manifest       a two-stream on-demand manifest whose fragments, /held/..., are
                         held like a gate named "held" before they are served
    /paced/<bytes per s>/<t1,t2,...>/<path>
                         the file <path> under --root; a fragment whose name holds
                         "(video=<t>)" for one of the times is sent at that rate, anything
                         else at once
    /flaky/<name>/<manifest faults>/<chunk faults>/Manifest
                         the same manifest, its fragments under the same prefix, each
                         fragment's mdat holding 100 + 7 * (chunk index) bytes. The first
                         requests of the Manifest meet the manifest faults in turn, those of
                         each stream's chunk 1 the chunk faults, then they are served. Faults
                         are "+"-joined, "-" for none: 500, 503, 503rN (503 with Retry-After:
                         N), any other status (a 3xx with Location: /echo), reset (RST before
                         any answer), drop (close before any
                         answer), close (close after half the body), hold (half the body,
                         then 30 s of silence). Each request is counted under the tag
                         "<name>/<path after the faults>", e.g. "n/Manifest".
    /endless             200 without Content-Length, a body that never ends
    /huge                200, Content-Length 100 GB, 1 kB, then 30 s of silence
    /trickle?rate=R&size=N   (also /trickle/<anything>, e.g. a manifest path)
                         200, Content-Length N, the body sent at R bytes per second
Any other path is 404. A "tag" in the query of any request is counted for /count.
"""

import argparse
import collections
import os
import re
import socket
import ssl
import struct
import sys
import threading
import time
import urllib.parse
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

BIG_SIZE = 3 * 1024 * 1024 + 7
TRUNCATED_LENGTH = 100000
TRUNCATED_SENT = 1000

ROOT = None
PACE_BLOCK = 4096

_counts = collections.Counter()
_counts_lock = threading.Lock()


def big_body():
    pattern = bytes(i % 251 for i in range(251))
    body = pattern * (BIG_SIZE // 251 + 1)
    return body[:BIG_SIZE]


BIG_BODY = big_body()
GATE_TIMEOUT = 30

_gates = collections.defaultdict(threading.Event)
_gates_lock = threading.Lock()


def gate(name):
    with _gates_lock:
        return _gates[name]


def box(kind, payload):
    return struct.pack(">I4s", 8 + len(payload), kind) + payload


def full_box(kind, version, flags, payload):
    return box(kind, struct.pack(">I", (version << 24) | flags) + payload)


SYNC_FLAGS = 0x02000000
OTHER_FLAGS = 0x01010000


def fragment_body(pad, durations=(1000, 3000), sync=()):
    """A moof whose trun gives each sample a duration, a size (pad shared out, the last
    sample taking the rest) and flags (sync for the indexes in sync), then the mdat, in
    which byte i of the payload is i % 251."""
    count = len(durations)
    sizes = [pad // count] * (count - 1) + [pad - pad // count * (count - 1)]

    def moof(data_offset):
        tfhd = full_box(b"tfhd", 0, 0, struct.pack(">I", 1))
        records = b"".join(struct.pack(">III", d, size, SYNC_FLAGS if i in sync else OTHER_FLAGS)
                           for i, (d, size) in enumerate(zip(durations, sizes)))
        trun = full_box(b"trun", 0, 0x701, struct.pack(">Ii", count, data_offset) + records)
        return box(b"moof", full_box(b"mfhd", 0, 0, struct.pack(">I", 1)) +
                   box(b"traf", tfhd + trun))

    head = moof(0)
    return moof(len(head) + 8) + box(b"mdat", bytes(i % 251 for i in range(pad)))


FLAKY_CHUNK_TICKS = 20000000
FLAKY_PAD = 100
FLAKY_PAD_STEP = 7
HOLD_SECONDS = 30

HELD_MANIFEST = b"""<?xml version="1.0" encoding="utf-8"?>
<SmoothStreamingMedia MajorVersion="2" MinorVersion="0" Duration="100000000">
<StreamIndex Type="video" QualityLevels="1" Chunks="5" Url="QualityLevels({bitrate})/Fragments(video={start time})">
<QualityLevel Index="0" Bitrate="300000" FourCC="H264" MaxWidth="320" MaxHeight="180" CodecPrivateData="00000001674d400ceca0a0cfcf80880000030008000003019078a14cb00000000168ce3c80" />
<c d="20000000" /><c d="20000000" /><c d="20000000" /><c d="20000000" /><c d="20000000" />
</StreamIndex>
<StreamIndex Type="audio" QualityLevels="1" Chunks="5" Url="QualityLevels({bitrate})/Fragments(audio={start time})">
<QualityLevel Index="0" Bitrate="128000" FourCC="AACL" SamplingRate="48000" Channels="2" BitsPerSample="16" PacketSize="4" AudioTag="255" CodecPrivateData="1190" />
<c d="20000000" /><c d="20000000" /><c d="20000000" /><c d="20000000" /><c d="20000000" />
</StreamIndex>
</SmoothStreamingMedia>
"""


def int_list(query, name, default):
    values = query.get(name, [""])[0]
    return tuple(int(v) for v in values.split(",") if v) if values else default


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.0"
    server_version = "KvssfFaults/1.0"

    def log_message(self, fmt, *args):
        sys.stderr.write("%s %s\n" % (self.address_string(), fmt % args))

    def send_body(self, status, body, content_type="application/octet-stream", headers=()):
        self.send_response(status)
        self.send_header("Content-Type", content_type)
        self.send_header("Content-Length", str(len(body)))
        for name, value in headers:
            self.send_header(name, value)
        self.end_headers()
        self.wfile.write(body)

    def do_GET(self):
        url = urllib.parse.urlsplit(self.path)
        query = urllib.parse.parse_qs(url.query)
        path = url.path
        if path != "/count":
            for tag in query.get("tag", []):
                with _counts_lock:
                    _counts[tag] += 1

        if path.startswith("/status/"):
            self.status(path[len("/status/"):].split("/")[0], url.query)
        elif path == "/truncated":
            self.send_response(200)
            self.send_header("Content-Length", str(TRUNCATED_LENGTH))
            self.end_headers()
            self.wfile.write(b"t" * TRUNCATED_SENT)
            self.wfile.flush()
            self.close_connection = True
        elif path == "/drop":
            self.close_connection = True
        elif path == "/malformed/Manifest":
            self.send_body(200, b'<?xml version="1.0"?>\n<SmoothStreamingMedia MajorVersion="2"'
                           b'>\n  <StreamIndex Type="video"\n', "text/xml")
        elif path == "/echo":
            lines = [self.requestline] + ["%s: %s" % item for item in self.headers.items()]
            self.send_body(200, ("\n".join(lines) + "\n").encode("latin-1"), "text/plain")
        elif path == "/count":
            tag = query.get("tag", [""])[0]
            with _counts_lock:
                count = _counts[tag]
            self.send_body(200, str(count).encode(), "text/plain")
        elif path == "/empty":
            self.send_body(200, b"")
        elif path == "/big" and "unannounced" in query:
            self.send_response(200)
            self.end_headers()
            self.wfile.write(BIG_BODY)
            self.close_connection = True
        elif path == "/big":
            self.send_body(200, BIG_BODY)
        elif path == "/fragment":
            time.sleep(int(query.get("delay_ms", ["0"])[0]) / 1000.0)
            self.send_fragment(query)
        elif path.startswith("/gate/"):
            if gate(path[len("/gate/"):]).wait(GATE_TIMEOUT):
                self.send_fragment(query)
            else:
                self.send_body(503, b"gate never opened\n", "text/plain")
        elif path == "/held/Manifest":
            self.send_body(200, HELD_MANIFEST, "text/xml")
        elif path.startswith("/held/"):
            if gate("held").wait(GATE_TIMEOUT):
                self.send_fragment(query)
            else:
                self.send_body(503, b"gate never opened\n", "text/plain")
        elif path.startswith("/paced/") and ROOT is not None:
            self.paced(urllib.parse.unquote(path[len("/paced/"):]))
        elif path.startswith("/flaky/"):
            self.flaky(path)
        elif path == "/endless":
            self.send_response(200)
            self.end_headers()
            block = bytes(range(256)) * 256
            try:
                while True:
                    self.wfile.write(block)
            except OSError:
                pass
            self.close_connection = True
        elif path == "/huge":
            self.send_response(200)
            self.send_header("Content-Length", str(100 * 1000 ** 3))
            self.end_headers()
            self.wfile.write(b"h" * 1000)
            self.wfile.flush()
            time.sleep(HOLD_SECONDS)
            self.close_connection = True
        elif path == "/trickle" or path.startswith("/trickle/"):
            self.trickle(int(query.get("rate", ["100"])[0]), int(query.get("size", ["1000"])[0]))
        elif path.startswith("/open/"):
            gate(path[len("/open/"):]).set()
            self.send_body(200, b"open\n", "text/plain")
        else:
            self.send_body(404, b"not found\n", "text/plain")

    def paced(self, rest):
        parts = rest.split("/", 2)
        file = os.path.normpath(os.path.join(ROOT, parts[-1]))
        if len(parts) < 3 or not file.startswith(ROOT + os.sep) or not os.path.isfile(file):
            self.send_body(404, b"not found\n", "text/plain")
            return
        with open(file, "rb") as f:
            body = f.read()
        match = re.search(r"\(video=(\d+)\)$", file)
        slow = match is not None and match.group(1) in parts[1].split(",")
        if not slow:
            self.send_body(200, body, "text/xml" if file.endswith("Manifest") else "video/mp4")
            return
        rate = max(int(parts[0]), 1)
        self.send_response(200)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        for i in range(0, len(body), PACE_BLOCK):
            self.wfile.write(body[i:i + PACE_BLOCK])
            self.wfile.flush()
            time.sleep(PACE_BLOCK / rate)
    def flaky(self, path):
        parts = path.split("/", 5)  # "", "flaky", name, manifest faults, chunk faults, rest
        if len(parts) < 6:
            self.send_body(400, b"bad flaky path\n", "text/plain")
            return
        rest = parts[5]
        key = parts[2] + "/" + rest
        with _counts_lock:
            _counts[key] += 1
            attempt = _counts[key] - 1
        if rest == "Manifest":
            faults, body, content_type = parts[3], HELD_MANIFEST, "text/xml"
        else:
            start = int(rest[rest.rindex("=") + 1:rest.rindex(")")])
            chunk = start // FLAKY_CHUNK_TICKS
            faults = parts[4] if chunk == 1 else "-"
            body = fragment_body(FLAKY_PAD + FLAKY_PAD_STEP * chunk)
            content_type = "application/octet-stream"
        planned = [] if faults == "-" else faults.split("+")
        if attempt < len(planned):
            self.fault(planned[attempt], body, content_type)
        else:
            self.send_body(200, body, content_type)

    def fault(self, kind, body, content_type):
        if kind in ("reset", "drop"):
            if kind == "reset":
                self.connection.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER,
                                           struct.pack("ii", 1, 0))
            self.connection.close()
            self.close_connection = True
        elif kind in ("close", "hold"):
            self.send_response(200)
            self.send_header("Content-Type", content_type)
            self.send_header("Content-Length", str(len(body)))
            self.end_headers()
            self.wfile.write(body[:len(body) // 2])
            self.wfile.flush()
            if kind == "hold":
                time.sleep(HOLD_SECONDS)
            self.close_connection = True
        elif kind.startswith("503r"):
            self.send_body(503, b"busy\n", "text/plain", [("Retry-After", kind[4:])])
        else:
            code = int(kind)
            headers = [("Location", "/echo")] if 300 <= code <= 399 else []
            self.send_body(code, ("status %s\n" % kind).encode(), "text/plain", headers)

    def trickle(self, rate, size):
        self.send_response(200)
        self.send_header("Content-Length", str(size))
        self.end_headers()
        step = max(1, rate // 10)
        sent = 0
        try:
            while sent < size:
                count = min(step, size - sent)
                self.wfile.write(b"s" * count)
                self.wfile.flush()
                sent += count
                time.sleep(count / rate)
        except OSError:
            pass
        self.close_connection = True

    def send_fragment(self, query):
        self.send_body(200, fragment_body(int(query.get("pad", ["100"])[0]),
                                          int_list(query, "durations", (1000, 3000)),
                                          int_list(query, "sync", ())))

    def status(self, code_text, query):
        try:
            code = int(code_text)
        except ValueError:
            code = 0
        if not 200 <= code <= 599:
            self.send_body(400, b"bad status\n", "text/plain")
            return
        headers = []
        if code in (301, 302, 303, 307, 308):
            headers.append(("Location", "/echo" + ("?" + query if query else "")))
        if code == 401:
            headers.append(("WWW-Authenticate", 'Basic realm="kvssf"'))
        self.send_body(code, ("status %d\n" % code).encode(), "text/plain", headers)


class Server(ThreadingHTTPServer):
    daemon_threads = True
    tls_context = None

    def get_request(self):
        sock, address = self.socket.accept()
        if self.tls_context is not None:
            # The handshake runs on the handler's thread, so a client that rejects the
            # certificate fails only its own connection.
            sock = self.tls_context.wrap_socket(sock, server_side=True,
                                                do_handshake_on_connect=False)
        return sock, address

    def handle_error(self, request, client_address):
        error = sys.exc_info()[1]
        if isinstance(error, (ssl.SSLError, ConnectionError, socket.timeout)):
            sys.stderr.write("%s: %s\n" % (client_address[0], error))
            return
        super().handle_error(request, client_address)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--port-file", required=True)
    parser.add_argument("--tls", nargs=2, metavar=("CERT", "KEY"))
    parser.add_argument("--root", help="the files /paced/ serves")
    args = parser.parse_args()
    global ROOT
    ROOT = os.path.abspath(args.root) if args.root else None

    server = Server(("127.0.0.1", 0), Handler)
    port = server.server_address[1]
    if args.tls:
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(args.tls[0], args.tls[1])
        server.tls_context = context
        base = "https://localhost:%d/" % port
    else:
        base = "http://127.0.0.1:%d/" % port

    temporary = args.port_file + ".tmp"
    with open(temporary, "w") as out:
        out.write(base + "\n")
    os.replace(temporary, args.port_file)
    try:
        server.serve_forever()
    except KeyboardInterrupt:
        pass


if __name__ == "__main__":
    main()
