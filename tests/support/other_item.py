# SPDX-License-Identifier: GPL-3.0-or-later
"""Writes or reads, through mutagen, what the editor's fields do not show: an
item no field maps (a mood), or a second value of a field that shows only
one (the artist), each stored the way the format's own tools store it.

    other_item.py write <format> <file> <value>
    other_item.py read <format> <file>        (prints the value; exit 1 when absent)
    other_item.py write-artists <format> <file> <value>...
    other_item.py read-artists <format> <file> (prints the values, one a line)
    other_item.py keys <format> <file>         (the item keys but the title's, one a
                                                line per value, sorted)

<format> is mp3, ogg, opus, flac, wma, mp4, mpc or ape. Values travel as UTF-8.
"""
import sys

from mutagen.apev2 import APEv2, APENoHeaderError
from mutagen.asf import ASF
from mutagen.id3 import ID3, ID3NoHeaderError, TPE1, TXXX
from mutagen.mp4 import MP4, MP4FreeForm
from mutagen.flac import FLAC
from mutagen.oggopus import OggOpus
from mutagen.oggvorbis import OggVorbis

MP4_KEY = "----:com.apple.iTunes:MOOD"


def vorbis(fmt, path):
    """The Vorbis comment carrier: both formats store the same comments."""
    return {"flac": FLAC, "opus": OggOpus}.get(fmt, OggVorbis)(path)


def write(fmt, path, value):
    if fmt == "mp3":
        try:
            tags = ID3(path)
        except ID3NoHeaderError:
            tags = ID3()
        tags.add(TXXX(encoding=3, desc="MOOD", text=[value]))
        tags.save(path)
    elif fmt in ("ogg", "opus", "flac"):
        f = vorbis(fmt, path)
        f["MOOD"] = [value]
        f.save()
    elif fmt == "wma":
        f = ASF(path)
        f["WM/Mood"] = [value]
        f.save()
    elif fmt == "mp4":
        f = MP4(path)
        f[MP4_KEY] = [MP4FreeForm(value.encode("utf-8"))]
        f.save()
    elif fmt in ("mpc", "ape"):
        try:
            tags = APEv2(path)
        except APENoHeaderError:
            tags = APEv2()
        tags["Mood"] = value
        tags.save(path)
    else:
        raise SystemExit("unknown format " + fmt)


def read(fmt, path):
    if fmt == "mp3":
        frames = ID3(path).getall("TXXX:MOOD")
        return str(frames[0].text[0]) if frames else None
    if fmt in ("ogg", "opus", "flac"):
        values = vorbis(fmt, path).get("MOOD")
        return values[0] if values else None
    if fmt == "wma":
        values = ASF(path).get("WM/Mood")
        return str(values[0]) if values else None
    if fmt == "mp4":
        values = MP4(path).get(MP4_KEY)
        return bytes(values[0]).decode("utf-8") if values else None
    if fmt in ("mpc", "ape"):
        tags = APEv2(path)
        return str(tags["Mood"]) if "Mood" in tags else None
    raise SystemExit("unknown format " + fmt)


def write_artists(fmt, path, values):
    if fmt == "mp3":
        try:
            tags = ID3(path)
        except ID3NoHeaderError:
            tags = ID3()
        tags.add(TPE1(encoding=3, text=values))
        tags.save(path)  # ID3v2.4: the values separated by NUL
    elif fmt in ("ogg", "opus", "flac"):
        f = vorbis(fmt, path)
        f["ARTIST"] = values
        f.save()
    elif fmt == "wma":
        f = ASF(path)
        f["Author"] = values
        f.save()
    elif fmt == "mp4":
        f = MP4(path)
        f["\xa9ART"] = values
        f.save()
    elif fmt in ("mpc", "ape"):
        try:
            tags = APEv2(path)
        except APENoHeaderError:
            tags = APEv2()
        tags["Artist"] = values  # one item, the values separated by NUL
        tags.save(path)
    else:
        raise SystemExit("unknown format " + fmt)


def read_artists(fmt, path):
    if fmt == "mp3":
        tags = ID3(path)
        frame = tags.get("TPE1")
        if not frame:
            return []
        # ID3v2.3 (4.2.1) keeps several artists in one text, split by "/".
        if tags.version < (2, 4, 0) and len(frame.text) == 1:
            return str(frame.text[0]).split("/")
        return [str(t) for t in frame.text]
    if fmt in ("ogg", "opus", "flac"):
        return list(vorbis(fmt, path).get("ARTIST", []))
    if fmt == "wma":
        return [str(v) for v in ASF(path).get("Author", [])]
    if fmt == "mp4":
        return list(MP4(path).get("\xa9ART", []))
    if fmt in ("mpc", "ape"):
        tags = APEv2(path)
        return list(tags["Artist"]) if "Artist" in tags else []
    raise SystemExit("unknown format " + fmt)


def keys(fmt, path):
    if fmt == "mp3":
        tags = ID3(path)
        return [k for k in tags.keys() if k != "TIT2"]
    if fmt in ("ogg", "opus", "flac"):
        return [k.upper() for k, _ in vorbis(fmt, path).tags if k.upper() != "TITLE"]
    if fmt == "wma":
        return [k for k, v in ASF(path).tags.items() for _ in v if k != "Title"]
    if fmt == "mp4":
        return [k for k, v in MP4(path).tags.items() for _ in v if k != "\xa9nam"]
    if fmt in ("mpc", "ape"):
        return [k.upper() for k in APEv2(path).keys() if k.upper() != "TITLE"]
    raise SystemExit("unknown format " + fmt)


def main():
    command, fmt, path = sys.argv[1:4]
    if command == "write":
        write(fmt, path, sys.argv[4])
        return 0
    if command == "write-artists":
        write_artists(fmt, path, sys.argv[4:])
        return 0
    if command == "keys":
        sys.stdout.buffer.write("\n".join(sorted(keys(fmt, path))).encode("utf-8"))
        return 0
    if command == "read-artists":
        sys.stdout.buffer.write("\n".join(read_artists(fmt, path)).encode("utf-8"))
        return 0
    value = read(fmt, path)
    if value is None:
        return 1
    sys.stdout.buffer.write(value.encode("utf-8"))
    return 0


if __name__ == "__main__":
    sys.exit(main())
