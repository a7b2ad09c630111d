# SPDX-License-Identifier: GPL-3.0-or-later
"""Writes the first embedded picture of an MP3, WMA or MP4 file, as mutagen
reads it, to OUT and prints its MIME type and description.

usage: picture_dump.py FILE OUT
"""
import io
import struct
import sys

import mutagen
from mutagen.asf import ASF
from mutagen.id3 import ID3
from mutagen.mp4 import MP4


def utf16z(data, pos):
    end = pos
    while data[end:end + 2] != b"\0\0":
        end += 2
    return data[pos:end].decode("utf-16-le"), end + 2


def main():
    path, out = sys.argv[1], sys.argv[2]
    lower = path.lower()
    if lower.endswith(".mp3"):
        apic = ID3(path).getall("APIC")[0]
        data, mime, desc = apic.data, apic.mime, apic.desc
    elif lower.endswith(".wma"):
        tags = ASF(path).tags
        if "ID3" in tags:
            # An ID3v2 tag carried in the "ID3" descriptor.
            apic = ID3(io.BytesIO(tags["ID3"][0].value)).getall("APIC")[0]
            data, mime, desc = apic.data, apic.mime, apic.desc
        else:
            value = tags["WM/Picture"][0].value
            size = struct.unpack_from("<I", value, 1)[0]
            mime, pos = utf16z(value, 5)
            desc, pos = utf16z(value, pos)
            data = value[pos:pos + size]
    else:
        cover = MP4(path)["covr"][0]
        data = bytes(cover)
        mime = "image/png" if cover.imageformat == cover.FORMAT_PNG else "image/jpeg"
        desc = ""
    with open(out, "wb") as f:
        f.write(data)
    print(mime)
    print(desc)


if __name__ == "__main__":
    main()
