#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Test helper for MP4 files, run with mutagen as the independent oracle.

  mp4tool.py tag FILE JSON   sets the items in JSON ({"key": value, ...})
  mp4tool.py dump FILE       prints every item as JSON

Values: texts as lists of strings; "trkn" as [number, total]; "tmpo" as a
number; "cpil" as a boolean; free-form items ("----:mean:name") as lists of
strings; "covr" as a list of {"file": path, "format": 13|14|27|12|0} (dump
gives {"format": n, "hex": data}). "gnre" (a number) is written as the
numeric genre atom, which mutagen itself only reads.
"""
import json
import struct
import sys

from mutagen.mp4 import MP4, MP4Cover, MP4FreeForm

GNRE_PLACEHOLDER = "GN"


def tag(path, fields):
    f = MP4(path)
    if f.tags is None:
        f.add_tags()
    for key, value in fields.items():
        if key == "covr":
            covers = []
            for c in value:
                with open(c["file"], "rb") as pic:
                    covers.append(MP4Cover(pic.read(), c["format"]))
            f.tags[key] = covers
        elif key.startswith("----:"):
            f.tags[key] = [MP4FreeForm(v.encode("utf-8")) for v in value]
        elif key == "trkn":
            f.tags[key] = [tuple(value)]
        elif key == "tmpo":
            f.tags[key] = [value]
        elif key == "cpil":
            f.tags[key] = bool(value)
        elif key == "gnre":
            # A two-byte text atom has the size of a numeric genre atom:
            # written as text here, then turned into "gnre" in place.
            f.tags["\xa9gen"] = [GNRE_PLACEHOLDER]
        else:
            f.tags[key] = value
    f.save()
    if "gnre" in fields:
        with open(path, "rb") as fh:
            data = bytearray(fh.read())
        at = data.find(b"\xa9gen")
        assert at > 0 and data[at + 8:at + 12] == b"data"
        data[at:at + 4] = b"gnre"
        data[at + 12:at + 16] = b"\x00\x00\x00\x00"  # implicit type
        data[at + 20:at + 22] = struct.pack(">H", fields["gnre"])
        with open(path, "wb") as fh:
            fh.write(data)


def dump(path):
    f = MP4(path)
    out = {}
    for key, value in (f.tags or {}).items():
        if key == "covr":
            out[key] = [{"format": int(c.imageformat), "hex": bytes(c).hex()} for c in value]
        elif key.startswith("----:"):
            out[key] = [bytes(v).decode("utf-8") for v in value]
        elif key in ("trkn", "disk"):
            out[key] = [list(v) for v in value]
        else:
            out[key] = value
    print(json.dumps(out))


if __name__ == "__main__":
    if sys.argv[1] == "tag":
        tag(sys.argv[2], json.loads(sys.argv[3]))
    else:
        dump(sys.argv[2])
