# SPDX-License-Identifier: GPL-3.0-or-later
"""Tags an ASF file the way other editors do: a numeric track number, text
attributes, a small picture in the extended content description and a large
one (which mutagen moves into the metadata library). Also writes
two valid pictures beside the file: cover.png and big.png (over 64 KiB)."""
import os
import struct
import sys
import zlib

from mutagen.asf import ASF, ASFByteArrayAttribute, ASFDWordAttribute


def chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))


def png(padding=0):
    """A valid 1x1 grey PNG; `padding` bytes go into a private chunk."""
    out = b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", 1, 1, 8, 0, 0, 0, 0))
    if padding:
        out += chunk(b"prVt", bytes((i * 7) & 0xFF for i in range(padding)))
    return out + chunk(b"IDAT", zlib.compress(b"\0\x80")) + chunk(b"IEND", b"")


def picture(mime, desc, data, kind=3):
    value = struct.pack("<BI", kind, len(data))
    value += mime.encode("utf-16-le") + b"\0\0" + desc.encode("utf-16-le") + b"\0\0" + data
    return ASFByteArrayAttribute(value)


f = ASF(sys.argv[1])
f["WM/TrackNumber"] = [ASFDWordAttribute(5)]
f["WM/Year"] = ["2001"]
f["WM/AlbumArtist"] = ["Various"]
f["WM/Picture"] = [picture("image/png", "small", png(100)),
                   picture("image/png", "big", png(300 * 1024))]
f.save()
folder = os.path.dirname(sys.argv[1])
for name, data in (("cover.png", png()), ("big.png", png(100 * 1024))):
    with open(os.path.join(folder, name), "wb") as out:
        out.write(data)
