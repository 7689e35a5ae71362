#!/usr/bin/env python3
"""kvssf info against the test origin: the JSON model, the options, the errors.

    kvssf_info_test.py KVSSF ORIGIN_DIR
"""

import json
import os
import struct
import subprocess
import sys
import tempfile
import unittest

KVSSF = None
ORIGIN = None


def base(server):
    with open(os.path.join(ORIGIN, server + ".url")) as f:
        return f.read().strip()


def avcc_box(annex_b):
    """The configuration box of Annex B data holding one SPS and one PPS."""
    units = [u for u in annex_b.split(b"\x00\x00\x01") if u]
    units = [u[:-1] if u.endswith(b"\x00") and i + 1 < len(units) else u
             for i, u in enumerate(units)]
    units = [u for u in units if u]
    sps = next(u for u in units if u[0] & 31 == 7)
    pps = next(u for u in units if u[0] & 31 == 8)
    body = (b"avcC" + bytes([1]) + sps[1:4] + b"\xff\xe1" + struct.pack(">H", len(sps)) + sps +
            b"\x01" + struct.pack(">H", len(pps)) + pps)
    return struct.pack(">I", len(body) + 4) + body


def video_info(track, frame_time, codec_data, fourcc):
    width, height = track["max_width"], track["max_height"]
    image = ((24 * width + 31) // 32 * 4) * height
    return (bytes(32) + struct.pack("<IIq", track["bitrate"], 0, frame_time) +
            struct.pack("<IiiHHIIiiII", 40 + len(codec_data), width, height, 1, 24, fourcc,
                        image, 0, 0, 0, 0) + codec_data)


def wave_format(track, codec_data):
    tag = track["audio_tag"]
    if tag == 1:
        align = track["bits_per_sample"] * track["channels"] // 8
        rate = align * track["sampling_rate"]
    else:
        align, rate = track["packet_size"], track["bitrate"] >> 3
    return struct.pack("<HHIIHHH", tag, track["channels"], track["sampling_rate"], rate, align,
                       track["bits_per_sample"], len(codec_data)) + codec_data


class KvssfInfo(unittest.TestCase):
    def setUp(self):
        self.temp = tempfile.TemporaryDirectory(prefix="kvssf-info-")
        self.env = dict(os.environ, TMPDIR=self.temp.name)

    def tearDown(self):
        left = os.listdir(self.temp.name)
        self.temp.cleanup()
        self.assertEqual(left, [], "temporary files left behind")

    def run_info(self, url, *extra):
        return subprocess.run([KVSSF, "info", url, *extra], env=self.env,
                              capture_output=True, text=True, timeout=60)

    def model(self, url):
        result = self.run_info(url, "--json")
        self.assertEqual(result.returncode, 0, result.stderr)
        return json.loads(result.stdout)

    def test_codings_every_chunk_form_and_dropped_parts(self):
        m = self.model(base("nginx") + "fixtures/codings.ism/Manifest")
        manifest = m["manifest"]
        self.assertEqual(manifest["time_scale"], 1000)
        self.assertEqual(manifest["duration"], 6000)
        self.assertEqual(manifest["start_time"], 0)
        self.assertEqual(manifest["presentation_duration"], 35450000)
        self.assertEqual([s["pin_name"] for s in m["streams"]], ["numbered", "timed"])

        video, audio = m["streams"]
        self.assertEqual(video["time_scale"], 1000)
        self.assertEqual(video["chunks"], [[0, 3500], [3500, 9], [3509, 9], [3518, 9],
                                           [3527, 9], [3536, 9]])
        self.assertEqual(video["end_time"], 3545)
        self.assertEqual([t["bitrate"] for t in video["tracks"]], [1500000, 300000])
        self.assertEqual(video["current_track"], 0)
        self.assertEqual(video["tracks"][0]["attributes"], [["hardware", "high"], ["camera", "1"]])
        self.assertEqual(video["tracks"][0]["codec_private_data"], "000000016742c01e")
        self.assertEqual(video["tracks"][1]["codec_private_data"], "ab0c")
        self.assertEqual(video["tracks"][1]["fourcc"], "WVC1")
        self.assertEqual((video["max_width"], video["max_height"]), (1280, 720))
        self.assertEqual((video["display_width"], video["display_height"]), (1280, 720))
        # Nothing serves its fragments: the probe fails without failing the load.
        self.assertEqual(video["frame_duration"], 0)

        self.assertEqual(audio["time_scale"], 44100)
        self.assertEqual(audio["language"], "deu")
        self.assertEqual(audio["chunks"], [[100, 200], [300, 200], [500, 50]])
        self.assertEqual(audio["duration"], 550 * 10000000 // 44100)
        track = audio["tracks"][0]
        self.assertEqual((track["sampling_rate"], track["channels"], track["audio_tag"],
                          track["codec_private_data"]), (44100, 1, 1, ""))

    def test_options_choose_levels_and_default_audio(self):
        vod = base("nginx") + "media/vod/pres.ism/Manifest"
        for option, track in (("", 0), ("?_ssf_Bitrate=lowest", 2),
                              ("?x=1&_SSF_BITRATE= 350000 ", 1), ("?_ssf_Bitrate=auto", 0)):
            video = self.model(vod + option)["streams"][0]
            self.assertEqual(video["current_track"], track, option)
            self.assertEqual(video["target_bitrate"], video["tracks"][track]["bitrate"])
            # 25 frames per second, probed from the chosen level's first fragment.
            self.assertEqual(video["frame_duration"], 400000, option)
        m = self.model(vod + "?x=1&_SSF_BITRATE= 350000 ")
        self.assertEqual(m["manifest"]["manifest_url"], vod + "?x=1&")
        self.assertEqual(m["manifest"]["base_url"], vod[:-len("Manifest")])
        self.assertEqual(m["manifest"]["bitrate_option"], "350000")
        self.assertEqual(len(m["streams"][0]["chunks"]), 5)

        lang = base("nginx") + "media/lang/pres.ism/Manifest"
        self.assertEqual([s["pin_name"] for s in self.model(lang)["streams"]],
                         ["video", "audio_eng", "~audio_fra"])
        m = self.model(lang + "?_ssf_Language=fra")
        self.assertEqual([s["pin_name"] for s in m["streams"]],
                         ["video", "audio_fra", "~audio_eng"])
        self.assertEqual(m["manifest"]["language_option"], "fra")

        # The filter's own scheme loads the same model.
        via_scheme = self.model("kvssf" + lang[len("http"):])
        self.assertEqual(len(via_scheme["streams"]), 3)

    def test_media_types_and_buffers_byte_for_byte(self):
        m = self.model(base("nginx") + "media/vod/pres.ism/Manifest")
        video, audio = m["streams"]
        track = video["tracks"][video["current_track"]]
        box = avcc_box(bytes.fromhex(track["codec_private_data"]))
        mt = video["media_type"]
        self.assertEqual(mt["majortype"], "{73646976-0000-0010-8000-00AA00389B71}")
        self.assertEqual(mt["subtype"], "{31637661-5349-4D4F-4544-494154595045}")
        self.assertEqual(mt["formattype"], "{05589F80-C356-11CE-BF01-00AA0055595A}")
        self.assertEqual((mt["fixed_size_samples"], mt["temporal_compression"],
                          mt["sample_size"]), (False, True, 1))
        # 25 frames per second from the parameter set's timing.
        self.assertEqual(bytes.fromhex(mt["format"]),
                         video_info(track, 400000, box, 0x31637661))
        self.assertEqual(video["buffers"], {"count": 7, "size": 640 * 360 * 6})

        track = audio["tracks"][audio["current_track"]]
        mt = audio["media_type"]
        self.assertEqual(mt["subtype"], "{6134706D-0000-0010-8000-00AA00389B71}")
        self.assertEqual(mt["formattype"], "{05589F81-C356-11CE-BF01-00AA0055595A}")
        self.assertEqual(bytes.fromhex(mt["format"]),
                         wave_format(track, bytes.fromhex(track["codec_private_data"])))
        self.assertEqual((mt["fixed_size_samples"], mt["temporal_compression"],
                          mt["sample_size"]), (False, False, track["bitrate"] >> 3))

        # A parameter set cut short offers no type; PCM without codec data.
        m = self.model(base("nginx") + "fixtures/codings.ism/Manifest")
        video, audio = m["streams"]
        self.assertEqual(video["media_type_result"], "0x00040103")
        self.assertNotIn("media_type", video)
        track = audio["tracks"][0]
        self.assertEqual(bytes.fromhex(audio["media_type"]["format"]), wave_format(track, b""))
        self.assertEqual(audio["media_type"]["subtype"], "{00000001-0000-0010-8000-00AA00389B71}")
        self.assertEqual(audio["buffers"]["size"], 1323000)

    def test_summary_lists_pins(self):
        result = self.run_info(base("nginx") + "media/lang/pres.ism/Manifest")
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertIn('pin 2  "~audio_fra"', result.stdout)

    def test_errors_exit_one_with_hresult(self):
        nginx, faults = base("nginx"), base("faults")
        for url, code in ((nginx + "media/vod/pres.ism/Manifest.xml", "0x80004005"),
                          (nginx + "media/none.ism/Manifest", "0x80070002"),
                          (faults + "status/401/Manifest", "0x80070005"),
                          (faults + "malformed/Manifest", "0x8004022F"),
                          ("http://127.0.0.1:1/p.ism/Manifest", "0x80072EFD")):
            result = self.run_info(url)
            self.assertEqual(result.returncode, 1, url)
            self.assertTrue(result.stderr.startswith("kvssf info: %s: %s: " % (url, code)),
                            result.stderr)
            self.assertEqual(result.stdout, "")

    def test_usage_errors_exit_two(self):
        self.assertEqual(subprocess.run([KVSSF], capture_output=True).returncode, 2)
        self.assertEqual(self.run_info("u", "--frobnicate").returncode, 2)
        help_text = subprocess.run([KVSSF, "--help"], capture_output=True, text=True)
        self.assertEqual(help_text.returncode, 0)
        self.assertIn("_ssf_Bitrate", help_text.stdout)


if __name__ == "__main__":
    KVSSF, ORIGIN = sys.argv[1], sys.argv[2]
    unittest.main(argv=sys.argv[:1], verbosity=2)
