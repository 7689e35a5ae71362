#!/usr/bin/env python3
"""Turns the muxer's single audio StreamIndex (one QualityLevel per language, told
apart by bit rate) into one StreamIndex per language, renaming the fragment files to
match: split_languages.py PRES_DIR BITRATE=LANG ..."""
import os
import sys
import xml.etree.ElementTree as ET


def main():
    pres = sys.argv[1]
    langs = dict(arg.split("=") for arg in sys.argv[2:])
    path = os.path.join(pres, "Manifest")
    tree = ET.parse(path)
    root = tree.getroot()
    audio = next(s for s in root.findall("StreamIndex") if s.get("Type") == "audio")
    position = list(root).index(audio)
    root.remove(audio)
    for offset, level in enumerate(audio.findall("QualityLevel")):
        bitrate = level.get("Bitrate")
        lang = langs[bitrate]
        name = "audio_" + lang
        stream = ET.Element("StreamIndex", dict(audio.attrib))
        stream.set("Name", name)
        stream.set("Language", lang)
        stream.set("QualityLevels", "1")
        stream.set("Url", "QualityLevels({bitrate})/Fragments(%s={start time})" % name)
        level.set("Index", "0")
        stream.append(level)
        for chunk in audio.findall("c"):
            stream.append(chunk)
        root.insert(position + offset, stream)
        folder = os.path.join(pres, "QualityLevels(%s)" % bitrate)
        for entry in os.listdir(folder):
            if "(audio=" in entry:
                os.rename(os.path.join(folder, entry),
                          os.path.join(folder, entry.replace("(audio=", "(%s=" % name)))
    tree.write(path, encoding="utf-8", xml_declaration=True)


if __name__ == "__main__":
    main()
