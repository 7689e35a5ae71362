#!/usr/bin/env python3
"""Makes a presentation of any length out of a short one, for memory benchmarks:
    repeat_presentation.py SOURCE_DIR TARGET_DIR SECONDS

SOURCE_DIR/pres.ism holds a presentation with a Manifest and its fragment files. Each
stream's chunk list is repeated (or cut) to cover SECONDS, and every fragment file of
TARGET_DIR/pres.ism is a symbolic link to the source's fragment at the same place in the
repeated list, so an origin serving the target serves the short one's bodies."""

import os
import sys
import xml.etree.ElementTree as ET


def chunk_starts(stream):
    """(start, duration) of each chunk, in stream ticks."""
    chunks, t = [], 0
    for c in stream.findall("c"):
        t = int(c.get("t", t))
        d = int(c.get("d"))
        chunks.append((t, d))
        t += d
    return chunks


def main():
    source, target, seconds = sys.argv[1], sys.argv[2], float(sys.argv[3])
    source_ism = os.path.abspath(os.path.join(source, "pres.ism"))
    target_ism = os.path.join(target, "pres.ism")
    tree = ET.parse(os.path.join(source_ism, "Manifest"))
    root = tree.getroot()
    scale = int(root.get("TimeScale", "10000000"))
    end = int(seconds * scale)
    links = []
    longest = 0
    for stream in root.findall("StreamIndex"):
        chunks = chunk_starts(stream)
        first = chunks[0][0]
        period = chunks[-1][0] + chunks[-1][1] - first
        for c in stream.findall("c"):
            stream.remove(c)
        template = stream.get("Url")
        bitrates = [q.get("Bitrate") for q in stream.findall("QualityLevel")]
        n = 0
        while True:
            lap, index = divmod(n, len(chunks))
            start = chunks[index][0] + lap * period
            if start - first >= end:
                break
            attributes = {"n": str(n), "d": str(chunks[index][1])}
            if n == 0 and first != 0:
                attributes["t"] = str(first)
            ET.SubElement(stream, "c", attributes)
            for bitrate in bitrates:
                name = template.replace("{bitrate}", bitrate)
                links.append((name.replace("{start time}", str(chunks[index][0])),
                              name.replace("{start time}", str(start))))
            longest = max(longest, start + chunks[index][1])
            n += 1
        stream.set("Chunks", str(n))
    root.set("Duration", str(longest))
    os.makedirs(target_ism, exist_ok=True)
    tree.write(os.path.join(target_ism, "Manifest"), encoding="utf-8", xml_declaration=True)
    for original, repeated in links:
        path = os.path.join(target_ism, repeated)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        if os.path.lexists(path):
            os.remove(path)
        os.symlink(os.path.join(source_ism, original), path)


if __name__ == "__main__":
    main()
