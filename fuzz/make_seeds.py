#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Writes small seed files for the fuzz targets: one folder per format under
the given directory. Audio comes from ffmpeg (a fraction of a second of a
tone); tags that ffmpeg does not write are laid out here byte by byte."""
import os
import struct
import subprocess
import sys
import tempfile
import zlib


def ffmpeg(args, out):
    cmd = ["ffmpeg", "-hide_banner", "-loglevel", "error", "-y",
           "-f", "lavfi", "-i", "sine=frequency=440:duration=0.15"] + args + [out]
    subprocess.run(cmd, check=True)


def id3v1(title=b"Title", artist=b"Artist", track=3, genre=17):
    def field(s, n):
        return s[:n].ljust(n, b"\0")
    body = b"TAG" + field(title, 30) + field(artist, 30) + field(b"Album", 30) + b"1999"
    comment = field(b"Comment", 28) + bytes([0, track])
    return body + comment + bytes([genre])


def lyrics3(lyrics=b"la la la", title=b"A title longer than thirty characters!"):
    fields = b"IND00002" + b"10"
    for key, value in ((b"LYR", lyrics), (b"ETT", title)):
        fields += key + b"%05d" % len(value) + value
    block = b"LYRICSBEGIN" + fields
    return block + b"%06d" % len(block) + b"LYRICS200"


def ape_tag(items, version=2000, header=True):
    body = b""
    for key, value, flags in items:
        body += struct.pack("<II", len(value), flags) + key + b"\0" + value
    def frame(is_header):
        flags = (0x80000000 if header else 0) | (0x20000000 if is_header else 0)
        return b"APETAGEX" + struct.pack("<IIII", version, len(body) + 32, len(items), flags) + bytes(8)
    return (frame(True) if header else b"") + body + frame(False)


def id3v2(version, frames):
    body = b""
    for fid, data in frames:
        if version == 2:
            body += fid + struct.pack(">I", len(data))[1:] + data
        elif version == 3:
            body += fid + struct.pack(">IH", len(data), 0) + data
        else:
            n = len(data)
            synch = ((n & 0x7F) | (n >> 7 & 0x7F) << 8 | (n >> 14 & 0x7F) << 16 | (n >> 21 & 0x7F) << 24)
            body += fid + struct.pack(">IH", synch, 0) + data
    body += bytes(32)
    n = len(body)
    size = bytes([n >> 21 & 0x7F, n >> 14 & 0x7F, n >> 7 & 0x7F, n & 0x7F])
    return b"ID3" + bytes([version, 0, 0]) + size + body


def mac_file(version):
    b = b"MAC " + struct.pack("<H", version)
    if version < 3980:
        b += struct.pack("<HHHIIIIIII", 2000, 0, 2, 44100, 0, 0, 10, 1000, 0, 0)
    else:
        b += struct.pack("<HII", 0, 52, 24) + bytes(20) + bytes([0xAB] * 16)
        b += struct.pack("<HHIIIHHI", 2000, 0, 294912, 1000, 10, 16, 2, 44100)
    return b + bytes((i * 7 + 3) & 0xFF for i in range(200))


def varint(v):
    out = [v & 0x7F]
    v >>= 7
    while v:
        out.insert(0, (v & 0x7F) | 0x80)
        v >>= 7
    return bytes(out)


def mpc_sv8():
    payload = bytes([0, 0, 0, 0, 8]) + varint(44100) + varint(0) + bytes([0 << 5 | 16, 1 << 4 | 3])
    return b"MPCK" + b"SH" + varint(3 + len(payload)) + payload + b"AP" + varint(3 + 40) + bytes(40)


def mpc_sv7():
    return b"MP+\x07" + struct.pack("<II", 100, 0) + bytes((i * 13) & 0xFF for i in range(300))


def flac_blocks(data):
    """The ffmpeg FLAC file with a picture, an application block and a seek
    table put behind its stream facts, and an ID3v2 tag in front."""
    picture = (struct.pack(">II", 3, 9) + b"image/png" + struct.pack(">I", 5) + b"cover" +
               struct.pack(">IIIII", 1, 1, 24, 0, 12) + b"\x89PNG\r\n\x1a\n" + bytes(4))
    extra = b""
    for code, body in ((6, picture), (2, b"Sdrl" + bytes(6)), (3, bytes(18))):
        extra += bytes([code]) + struct.pack(">I", len(body))[1:] + body
    info_end = 4 + 4 + 34
    return id3v2(3, [(b"TIT2", b"\x00front tag")]) + data[:info_end] + extra + data[info_end:]


def png_1x1():
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", 1, 1, 8, 0, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(b"\0\0")) + chunk(b"IEND", b""))


def write(path, data):
    with open(path, "wb") as f:
        f.write(data)


def main():
    out = sys.argv[1]
    for d in ("id3v1", "id3v2", "mpeg", "ogg", "ape", "musepack", "wma", "mp4", "flac"):
        os.makedirs(os.path.join(out, d), exist_ok=True)
    with tempfile.TemporaryDirectory() as tmp:
        mp3 = os.path.join(tmp, "a.mp3")
        ffmpeg(["-c:a", "libmp3lame", "-b:a", "32k", "-write_xing", "1", "-id3v2_version", "0"], mp3)
        audio = open(mp3, "rb").read()
        vbr = os.path.join(tmp, "vbr.mp3")
        ffmpeg(["-c:a", "libmp3lame", "-q:a", "6", "-id3v2_version", "0"], vbr)
        tagged = os.path.join(tmp, "t.mp3")
        ffmpeg(["-c:a", "libmp3lame", "-b:a", "32k", "-id3v2_version", "3",
                "-metadata", "title=Seed", "-metadata", "artist=Someone",
                "-metadata", "comment=hello"], tagged)
        ogg = os.path.join(tmp, "a.ogg")
        ffmpeg(["-c:a", "libvorbis", "-q:a", "0", "-metadata", "title=Seed",
                "-metadata", "artist=Someone"], ogg)
        wma = os.path.join(tmp, "a.wma")
        ffmpeg(["-c:a", "wmav2", "-b:a", "32k", "-metadata", "title=Seed",
                "-metadata", "author=Someone"], wma)
        m4a = os.path.join(tmp, "a.m4a")
        ffmpeg(["-c:a", "aac", "-b:a", "32k", "-metadata", "title=Seed"], m4a)
        # Ogg FLAC (a seek table, a picture and padding, each block a header
        # packet of its own) and Ogg Opus with the encoders' own layouts.
        wav = os.path.join(tmp, "a.wav")
        ffmpeg(["-ar", "8000", "-ac", "1", "-sample_fmt", "s16"], wav)
        png = os.path.join(tmp, "p.png")
        write(png, png_1x1())
        oga = os.path.join(tmp, "a.oga")
        subprocess.run(["flac", "--ogg", "-s", "-f", "--padding=256", "-T", "TITLE=Seed",
                        "-T", "ARTIST=Someone", "--picture=3|image/png|cover||" + png,
                        "-o", oga, wav], check=True)
        opus = os.path.join(tmp, "a.opus")
        subprocess.run(["opusenc", "--quiet", "--padding", "256", "--title", "Seed",
                        "--artist", "Someone", wav, opus], check=True)
        flac = os.path.join(tmp, "a.flac")
        ffmpeg(["-ar", "8000", "-c:a", "flac", "-metadata", "title=Seed",
                "-metadata", "artist=Someone"], flac)

        # A short audio tail keeps the seeds small; the parsers only look at
        # the first frames and the end of the file.
        short = audio[:1200]
        write(os.path.join(out, "id3v1", "v11.mp3"), short + id3v1())
        write(os.path.join(out, "id3v1", "lyrics3.mp3"), short + lyrics3() + id3v1())
        write(os.path.join(out, "id3v1", "v10.mp3"), short + id3v1(track=0)[:-3] + b"xy\x50")
        text = b"\x00Seed title"
        utf16 = b"\x01" + "Уникод".encode("utf-16")
        comm = b"\x00eng\x00a comment"
        apic = b"\x00image/png\x00\x03cover\x00" + b"\x89PNG\r\n\x1a\n" + bytes(16)
        write(os.path.join(out, "id3v2", "v22.mp3"),
              id3v2(2, [(b"TT2", text), (b"TP1", utf16), (b"COM", comm)]) + short)
        write(os.path.join(out, "id3v2", "v23.mp3"), open(tagged, "rb").read()[:2000])
        write(os.path.join(out, "id3v2", "v23_picture.mp3"),
              id3v2(3, [(b"TIT2", text), (b"TPE1", utf16), (b"COMM", comm), (b"APIC", apic),
                        (b"USLT", comm), (b"WXXX", b"\x00\x00http://x")]) + short)
        write(os.path.join(out, "id3v2", "v24.mp3"),
              id3v2(4, [(b"TIT2", b"\x03Seed \xc3\xa9"), (b"TDRC", b"\x032001"),
                        (b"TCON", b"\x00(17)Rock")]) + short)
        write(os.path.join(out, "mpeg", "cbr.mp3"), short)
        write(os.path.join(out, "mpeg", "vbr.mp3"), open(vbr, "rb").read()[:2000])
        write(os.path.join(out, "mpeg", "tagged.mp3"), open(tagged, "rb").read()[:2000] + id3v1())
        write(os.path.join(out, "ogg", "vorbis.ogg"), open(ogg, "rb").read())
        write(os.path.join(out, "ogg", "flac.oga"), open(oga, "rb").read())
        write(os.path.join(out, "ogg", "opus.opus"), open(opus, "rb").read())
        write(os.path.join(out, "wma", "wmav2.wma"), open(wma, "rb").read()[:8000])
        write(os.path.join(out, "mp4", "aac.m4a"), open(m4a, "rb").read())
        plain = open(flac, "rb").read()
        write(os.path.join(out, "flac", "ffmpeg.flac"), plain)
        write(os.path.join(out, "flac", "blocks.flac"), flac_blocks(plain))
        items = [(b"Title", b"Seed", 0), (b"Artist", b"Someone", 0), (b"Track", b"3/9", 0),
                 (b"Cover Art (Front)", b"c.jpg\0\xff\xd8\xff", 2)]
        write(os.path.join(out, "ape", "v3990.ape"), mac_file(3990) + ape_tag(items))
        write(os.path.join(out, "ape", "v3970_id3v1.ape"), mac_file(3970) + ape_tag(items, 1000, False) + id3v1())
        write(os.path.join(out, "musepack", "sv7.mpc"), mpc_sv7() + ape_tag(items))
        write(os.path.join(out, "musepack", "sv8.mpc"), mpc_sv8() + ape_tag(items) + id3v1())


if __name__ == "__main__":
    main()
