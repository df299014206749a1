# SPDX-License-Identifier: GPL-3.0-or-later
"""Reads an exported FCPXML document and CSV table back with Python's own parsers and prints
what they hold as JSON, so that the tests compare values, not text."""
import csv
import json
import sys
import urllib.parse
import xml.etree.ElementTree as ElementTree


def document(path):
    root = ElementTree.parse(path).getroot()  # raises on anything not well-formed
    resources = root.find("resources")
    formats = [dict(f.attrib) for f in resources.findall("format")]
    assets = []
    for asset in resources.findall("asset"):
        entry = dict(asset.attrib)
        reps = asset.findall("media-rep")
        src = urllib.parse.urlsplit(reps[0].get("src"))
        entry["scheme"] = src.scheme
        entry["host"] = src.netloc
        entry["path_hex"] = urllib.parse.unquote_to_bytes(src.path).hex()
        entry["reps"] = len(reps)
        assets.append(entry)
    event = root.find("library/event")
    project = event.find("project")
    sequence = project.find("sequence")
    clips = []
    for clip in sequence.findall("spine/asset-clip"):
        entry = dict(clip.attrib)
        entry["markers"] = [dict(m.attrib) for m in clip.findall("marker")]
        clips.append(entry)
    return {
        "version": root.get("version"),
        "formats": formats,
        "assets": assets,
        "event": event.get("name"),
        "project": project.get("name"),
        "sequence": dict(sequence.attrib),
        "clips": clips,
    }


def table(path):
    with open(path, newline="", encoding="utf-8") as f:
        return [row for row in csv.reader(f, strict=True)]


print(json.dumps({"fcpxml": document(sys.argv[1]), "csv": table(sys.argv[2])}))
