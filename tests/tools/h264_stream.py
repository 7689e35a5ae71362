"""An H.264 level of a presentation as one Annex B elementary stream, for independent
decodes by FFmpeg: the level's parameter sets, then every sample of its fragments in
decode order with 4-byte NAL lengths turned into start codes."""

import json
import subprocess
import urllib.request

START_CODE = b"\x00\x00\x00\x01"


def _fetch(url):
    with urllib.request.urlopen(url, timeout=60) as response:
        return response.read()


def annex_b(sample):
    out = bytearray()
    i = 0
    while i + 4 <= len(sample):
        n = int.from_bytes(sample[i:i + 4], "big")
        out += START_CODE + sample[i + 4:i + 4 + n]
        i += 4 + n
    return bytes(out)


def level_stream(kvssf, model, stream, bitrate, chunks=None):
    """(Annex B bytes, [(absolute start, stop) of each sample in 100 ns]) of the level
    of stream (an entry of `kvssf info --json`) with that bit rate, over the given chunk
    indexes (all by default)."""
    track = next(t for t in stream["tracks"] if t["bitrate"] == bitrate)
    data = bytearray(bytes.fromhex(track["codec_private_data"]))
    times = []
    scale = stream["time_scale"]
    start_time = model["manifest"]["start_time"]
    for index, (chunk_start, _) in enumerate(stream["chunks"]):
        if chunks is not None and index not in chunks:
            continue
        path = (stream["url"].replace("{bitrate}", str(bitrate))
                .replace("{start time}", str(chunk_start)))
        url = model["manifest"]["base_url"] + path
        boxes = json.loads(subprocess.run([kvssf, "boxes", url, "--json"], check=True,
                                          capture_output=True, text=True).stdout)
        body = _fetch(url)
        for s in boxes["samples"]:
            data += annex_b(body[s["data_position"]:s["data_position"] + s["size"]])
            ticks = chunk_start + s["decode_offset"]
            times.append((ticks * 10000000 // scale - start_time,
                          (ticks + s["duration"]) * 10000000 // scale - start_time))
    return bytes(data), times


def decode_yuy2(annex_b_data, width, height, path):
    """Decodes the stream with FFmpeg, scaled (bicubic) to width x height YUY2, into
    path as raw frames."""
    subprocess.run(["ffmpeg", "-hide_banner", "-loglevel", "error", "-y", "-f", "h264",
                    "-i", "-", "-vf", "scale=%d:%d:flags=bicubic" % (width, height),
                    "-pix_fmt", "yuyv422", "-f", "rawvideo", path],
                   input=annex_b_data, check=True)
