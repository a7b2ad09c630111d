#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Peer side of the Ogg Vorbis interop tests.

  add-comments FILE JPEG
                       mutagen appends awkward comments (lower-case and
                       repeated keys, Cyrillic, replay gain, the JPEG as a
                       picture comment, large enough to span pages)
  dump FILE            what mutagen reads, as JSON
  add-picture FILE IMAGE TYPE MIME DESC
                       mutagen appends a picture comment (Vorbis or Opus)
  pictures FILE        the picture comments as mutagen decodes them, as JSON
  pages FILE [SKIP]    an independent page check (CRC, sequence numbers,
                       flags) plus a digest of the audio packets, as JSON;
                       SKIP bytes in front (an ID3v2 tag) are ignored
"""
import base64
import hashlib
import json
import struct
import sys

import mutagen
from mutagen.flac import Picture
from mutagen.oggvorbis import OggVorbis


def crc_table():
    table = []
    for i in range(256):
        r = i << 24
        for _ in range(8):
            r = ((r << 1) ^ 0x04C11DB7) if r & 0x80000000 else (r << 1)
        table.append(r & 0xFFFFFFFF)
    return table


TABLE = crc_table()


def ogg_crc(data):
    crc = 0
    for b in data:
        crc = ((crc << 8) & 0xFFFFFFFF) ^ TABLE[((crc >> 24) ^ b) & 0xFF]
    return crc


def add_comments(path, jpeg):
    f = OggVorbis(path)
    pic = Picture()
    pic.type = 3
    pic.mime = "image/jpeg"
    pic.desc = "cover"
    pic.data = open(jpeg, "rb").read()
    for key, value in [
        ("title", "Заголовок"),
        ("ARTIST", "First"),
        ("ARTIST", "Исполнитель"),
        ("DESCRIPTION", "described"),
        ("LYRICS", "строка 1\nline 2"),
        ("ENCODEDBY", "someone"),
        ("ORIGINALARTIST", "orig"),
        ("REPLAYGAIN_TRACK_GAIN", "-6.50 dB"),
        ("DISCNUMBER", "2/3"),
        ("MUSICBRAINZ_TRACKID", "0e6ac6e4-1f1b-4a4a-8d2e-1d3c9f0a8b11"),
        ("METADATA_BLOCK_PICTURE", base64.b64encode(pic.write()).decode("ascii")),
        ("replaygain_album_gain", "-7.00 dB"),
    ]:
        f.tags.append((key, value))
    f.save()


def dump(path):
    f = OggVorbis(path)
    print(json.dumps({
        "vendor": f.tags.vendor,
        "comments": [[k, v] for k, v in f.tags],
        "sample_rate": f.info.sample_rate,
        "channels": f.info.channels,
        "length": f.info.length,
    }))


def add_picture(path, image, kind, mime, desc):
    f = mutagen.File(path)
    pic = Picture()
    pic.type = kind
    pic.mime = mime
    pic.desc = desc
    pic.data = open(image, "rb").read()
    f.tags.append(("METADATA_BLOCK_PICTURE", base64.b64encode(pic.write()).decode("ascii")))
    f.save()


def list_pictures(path):
    f = mutagen.File(path)
    out = []
    for value in f.tags.get("METADATA_BLOCK_PICTURE", []):
        pic = Picture(base64.b64decode(value))
        out.append({"type": pic.type, "mime": pic.mime, "desc": pic.desc,
                    "sha256": hashlib.sha256(pic.data).hexdigest()})
    print(json.dumps(out))


def pages(path, skip):
    data = open(path, "rb").read()
    pos = skip
    errors = []
    seqs = {}
    out = []
    while pos < len(data):
        if data[pos:pos + 4] != b"OggS" or pos + 27 > len(data):
            errors.append("no page at %d" % pos)
            break
        version, flags, granule, serial, seq, crc, nseg = struct.unpack_from(
            "<BBqIIIB", data, pos + 4)
        lacing = data[pos + 27:pos + 27 + nseg]
        size = 27 + nseg + sum(lacing)
        page = bytearray(data[pos:pos + size])
        page[22:26] = b"\0\0\0\0"
        if version != 0:
            errors.append("version %d at page %d" % (version, len(out)))
        if ogg_crc(page) != crc:
            errors.append("bad CRC at page %d" % len(out))
        if serial in seqs and seq != seqs[serial] + 1:
            errors.append("sequence %d after %d" % (seq, seqs[serial]))
        seqs[serial] = seq
        out.append((flags, granule, lacing, bytes(page[27 + nseg:])))
        pos += size
    if out and not out[0][0] & 2:
        errors.append("first page lacks BOS")
    if out and not out[-1][0] & 4:
        errors.append("last page lacks EOS")
    packets = []
    cur = b""
    for i, (flags, granule, lacing, body) in enumerate(out):
        continued = i > 0 and len(out[i - 1][2]) > 0 and out[i - 1][2][-1] == 255
        if bool(flags & 1) != continued:
            errors.append("continuation flag of page %d" % i)
        at = 0
        for v in lacing:
            cur += body[at:at + v]
            at += v
            if v < 255:
                packets.append((cur, granule))
                cur = b""
    digest = hashlib.sha256()
    for p, _ in packets[3:]:
        digest.update(struct.pack("<I", len(p)) + p)
    print(json.dumps({
        "errors": errors,
        "pages": len(out),
        "audio": digest.hexdigest(),
        "granules": [g for _, g in packets[3:]],
        "audio_packets": len(packets) - 3,
    }))


if __name__ == "__main__":
    cmd = sys.argv[1]
    if cmd == "add-comments":
        add_comments(sys.argv[2], sys.argv[3])
    elif cmd == "dump":
        dump(sys.argv[2])
    elif cmd == "add-picture":
        add_picture(sys.argv[2], sys.argv[3], int(sys.argv[4]), sys.argv[5], sys.argv[6])
    elif cmd == "pictures":
        list_pictures(sys.argv[2])
    elif cmd == "pages":
        pages(sys.argv[2], int(sys.argv[3]) if len(sys.argv) > 3 else 0)
    else:
        sys.exit("unknown command " + cmd)
