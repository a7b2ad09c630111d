# SPDX-License-Identifier: GPL-3.0-or-later
"""Makes and dumps ID3v2 tags with mutagen for the id3v2 interop tests.

  mutagen_tags.py make VARIANT FILE   tag FILE (an MP3 without tags)
  mutagen_tags.py dump FILE           print "key<TAB>content" per frame
"""
import hashlib
import re
import struct
import sys

from mutagen.id3 import (ID3, APIC, COMM, POPM, PRIV, TALB, TCON, TDRC, TIT2, TPE1,
                         TPE2, TPOS, TRCK, TXXX, UFID, USLT)

PICTURE = bytes([0xFF, 0xD8, 0xFF, 0xE0, 0, 16]) + b"JFIF\x00" + bytes(
    (i * 7) & 0xFF for i in range(300))

VARIANTS = {
    # name: (major version, text encoding)
    "v23_latin1": (3, 0),
    "v23_utf16": (3, 1),
    "v24_utf8": (4, 3),
    "v23_unsync": (3, 1),
    "v23_extended": (3, 0),
}


def texts(encoding):
    if encoding == 0:
        return {"title": "Caf\u00e9 Song", "artist": "Artist", "album": "Album \u00c6"}
    return {"title": "\u041f\u0435\u0441\u043d\u044f \u2603", "artist": "\u0410\u0440\u0442",
            "album": "Album \u4e2d"}


def synchsafe(n):
    return bytes([(n >> 21) & 0x7F, (n >> 14) & 0x7F, (n >> 7) & 0x7F, n & 0x7F])


def rewrite_body(path, change):
    """Applies `change(flags, body) -> (flags, body)` to the tag of `path`."""
    with open(path, "rb") as f:
        data = f.read()
    size = (data[6] << 21) | (data[7] << 14) | (data[8] << 7) | data[9]
    flags, body = change(data[5], data[10:10 + size])
    with open(path, "wb") as f:
        f.write(data[:5] + bytes([flags]) + synchsafe(len(body)) + body + data[10 + size:])


def make(variant, path):
    major, enc = VARIANTS[variant]
    t = texts(enc)
    tags = ID3()
    tags.add(TIT2(encoding=enc, text=[t["title"]]))
    tags.add(TPE1(encoding=enc, text=[t["artist"]]))
    tags.add(TPE2(encoding=enc, text=["Album Artist"]))
    tags.add(TALB(encoding=enc, text=[t["album"]]))
    tags.add(TRCK(encoding=enc, text=["3/12"]))
    tags.add(TPOS(encoding=enc, text=["1/2"]))
    tags.add(TCON(encoding=enc, text=["Rock"]))
    tags.add(TDRC(encoding=enc, text=["2003"]))
    tags.add(COMM(encoding=enc, lang="eng", desc="iTunNORM", text=[" 00000A1F 00000B2C"]))
    tags.add(COMM(encoding=enc, lang="eng", desc="", text=["A comment"]))
    tags.add(COMM(encoding=enc, lang="deu", desc="Notiz", text=["Eine Notiz"]))
    tags.add(USLT(encoding=enc, lang="eng", desc="", text="line one\nline two"))
    tags.add(TXXX(encoding=enc, desc="CATALOG", text=["AB-123"]))
    tags.add(TXXX(encoding=enc, desc="MULTI", text=["one", "two"]))
    tags.add(POPM(email="rater@example.org", rating=196, count=7))
    tags.add(UFID(owner="http://example.org", data=b"\x01\x02id"))
    tags.add(PRIV(owner="private.owner", data=b"\x00\xff\x10binary"))
    tags.add(APIC(encoding=enc, mime="image/jpeg", type=3, desc="cover", data=PICTURE))
    if major == 3:
        tags.update_to_v23()
    tags.save(path, v2_version=major, padding=lambda info: 64)

    if variant == "v23_unsync":
        def unsync(flags, body):
            body = re.sub(b"\xff([\x00\xe0-\xff])", b"\xff\x00\\1", body)
            if body.endswith(b"\xff"):
                body += b"\x00"
            return flags | 0x80, body
        rewrite_body(path, unsync)
    elif variant == "v23_extended":
        rewrite_body(path, lambda flags, body: (
            flags | 0x40, struct.pack(">IHI", 6, 0, 0) + body))


def dump(path):
    tags = ID3(path)
    print("version\t%d.%d" % (tags.version[1], tags.version[2]))
    for key in sorted(tags.keys()):
        frame = tags[key]
        content = frame.pprint()
        for attr in ("data", "lang"):
            value = getattr(frame, attr, None)
            if isinstance(value, bytes):
                content += " sha1=" + hashlib.sha1(value).hexdigest()
            elif isinstance(value, str):
                content += " " + attr + "=" + value
        content = content.replace("\\", "\\\\").replace("\n", "\\n")
        print("%s\t%s" % (key, content))


if __name__ == "__main__":
    if sys.argv[1] == "make":
        make(sys.argv[2], sys.argv[3])
    else:
        dump(sys.argv[2])
