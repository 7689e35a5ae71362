#!/usr/bin/env python3
"""Writes a VOD manifest with one video and one audio stream of N chunks each
(every chunk with n, t and d) to standard output: big_manifest.py N"""
import sys


def main():
    n = int(sys.argv[1])
    out = sys.stdout
    out.write('<?xml version="1.0" encoding="utf-8"?>\n')
    out.write('<SmoothStreamingMedia MajorVersion="2" MinorVersion="0" '
              'Duration="%d">\n' % (n * 20000000))
    out.write('<StreamIndex Type="video" Name="video" Chunks="%d" QualityLevels="2" '
              'Url="QualityLevels({bitrate})/Fragments(video={start time})" '
              'MaxWidth="1280" MaxHeight="720" DisplayWidth="1280" DisplayHeight="720">\n' % n)
    for bitrate, (w, h) in ((1500000, (1280, 720)), (600000, (640, 360))):
        out.write('<QualityLevel Index="%d" Bitrate="%d" FourCC="H264" MaxWidth="%d" '
                  'MaxHeight="%d" CodecPrivateData="000000016764001FACD94050045FF8A0000003008000001E078C18CB000000000168EBECB22C"/>\n'
                  % (0 if bitrate == 1500000 else 1, bitrate, w, h))
    for i in range(n):
        out.write('<c n="%d" t="%d" d="20000000"/>\n' % (i, i * 20000000))
    out.write('</StreamIndex>\n')
    out.write('<StreamIndex Type="audio" Name="audio" Chunks="%d" QualityLevels="1" '
              'Url="QualityLevels({bitrate})/Fragments(audio={start time})">\n' % n)
    out.write('<QualityLevel Index="0" Bitrate="128000" FourCC="AACL" SamplingRate="48000" '
              'Channels="2" BitsPerSample="16" PacketSize="4" AudioTag="255" '
              'CodecPrivateData="1190"/>\n')
    for i in range(n):
        out.write('<c n="%d" t="%d" d="%d"/>\n' % (i, i * 20053333, 20053333))
    out.write('</StreamIndex>\n</SmoothStreamingMedia>\n')


if __name__ == "__main__":
    main()
