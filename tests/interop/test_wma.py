# SPDX-License-Identifier: GPL-3.0-or-later
"""Windows Media Audio against mutagen: a file made by ffmpeg (wmav2),
attributes written by mutagen with non-ASCII text, a picture and
attributes that no field shows; several values, values in the metadata
objects (with a language or a stream), standard names, and the stream facts
of a 320 kbit/s file against ffprobe."""
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import interop_common as ic  # noqa: E402

ic.ensure_mutagen()
from mutagen.asf import (ASF, ASFByteArrayAttribute, ASFDWordAttribute,  # noqa: E402
                         ASFUnicodeAttribute)

KEYS = {"track": "WM/TrackNumber", "title": "Title", "artist": "Author",
        "album": "WM/AlbumTitle", "year": "WM/Year", "genre": "WM/Genre",
        "comment": "Description", "lyrics": "WM/Lyrics", "composer": "WM/Composer",
        "origArtist": "WM/OriginalArtist", "copyright": "Copyright", "url": "WM/URL",
        "encodedBy": "WM/EncodedBy"}


def attr(tags, name):
    for key in tags.keys():
        if key.upper() == name.upper() and tags[key]:
            return str(tags[key][0])
    return ""


def peer_read(path):
    tags = ASF(path).tags
    return {k: attr(tags, v) for k, v in KEYS.items()}


def picture_value(data, mime, desc, kind=3):
    def utf16z(s):
        return s.encode("utf-16-le") + b"\x00\x00"
    return ASFByteArrayAttribute(bytes([kind]) + len(data).to_bytes(4, "little")
                                 + utf16z(mime) + utf16z(desc) + data)


def attributes(path, leave_out=()):
    """Every attribute as mutagen reads it: name, type, value, language,
    stream; those named in `leave_out` (any case) left out."""
    out = []
    for name, value in ASF(path).tags:
        if name.upper() in leave_out:
            continue
        out.append((name, type(value).__name__, value.value, value.language, value.stream))
    return sorted(out, key=repr)


def values(path, name):
    return [(n, v.value) for n, v in ASF(path).tags if n.upper() == name.upper()]


def keeps_what_it_did_not_change(suite):
    """Files tagged by mutagen: several values of a field (the second goes
    to the metadata library), values with a language or a stream (metadata
    objects), a value too long for the extended content description, and
    the standard names, through a title-only save and through edits."""
    path = suite.path("several.wma")
    ic.ffmpeg_tone(path, ["-c:a", "wmav2", "-b:a", "64k", "-map_metadata", "-1"])
    long_lyrics = "la " * 12000  # over 64 KiB in UTF-16
    f = ASF(path)
    f.tags.clear()
    f.tags["Title"] = ["Old title"]
    f.tags["Author"] = ["Anna", "Bert"]
    f.tags["WM/Genre"] = ["Rock", "Pop"]
    f.tags["WM/Composer"] = [ASFUnicodeAttribute("Clara", language=0)]
    f.tags["WM/Year"] = [ASFUnicodeAttribute("1999", stream=1)]
    f.tags["WM/Lyrics"] = [long_lyrics]
    f.tags["WM/OriginalArtist"] = ["Orig"]
    f.tags["WM/EncodedBy"] = ["enc"]
    f.tags["WM/UserWebURL"] = ["http://a.invalid/"]
    f.tags["WM/TrackNumber"] = [ASFDWordAttribute(4)]
    f.tags["WM/Mood"] = [ASFUnicodeAttribute("calm", language=0)]
    f.save()
    pcm = ic.decoded_pcm(path)

    shown = suite.show(path)[0]["tags"]
    for key, want in {"artist": "Anna / Bert", "genre": "Rock / Pop", "composer": "Clara",
                      "year": "1999", "track": "4"}.items():
        suite.eq("several: shown %s" % key, shown.get(key), want)
    suite.check("several: shown lyrics (%d characters)" % len(shown.get("lyrics", "")),
                shown.get("lyrics") == long_lyrics)

    before = attributes(path, leave_out=("TITLE",))
    suite.set(path, "--title", "Only the title")
    suite.eq("several: attributes after a title save", attributes(path, ("TITLE",)), before)
    suite.eq("several: title", values(path, "Title"), [("Title", "Only the title")])

    # Changed fields: every value under any spelling gives way to one under
    # the standard name; the rest stays as it was.
    suite.set(path, "--genre", "Blues", "--artist", "Zoë", "--composer", "Dora",
              "--year", "2001", "--lyrics", "short", "--orig-artist", "O2",
              "--encoded-by", "e2", "--url", "http://b.invalid/", "--track", "7")
    suite.check("several: the long lyrics are gone",
                all(len(str(v)) < 100 for n, v in values(path, "WM/Lyrics")))
    for name, want in [("WM/Genre", "Blues"), ("Author", "Zoë"), ("WM/Composer", "Dora"),
                       ("WM/Year", "2001"), ("WM/Lyrics", "short"),
                       ("WM/OriginalArtist", "O2"), ("WM/EncodedBy", "e2"),
                       ("WM/UserWebURL", "http://b.invalid/"), ("WM/TrackNumber", 7)]:
        suite.eq("several: %s after the edit" % name, values(path, name), [(name, want)])
    suite.eq("several: track number type",
             [type(v).__name__ for n, v in ASF(path).tags if n == "WM/TrackNumber"],
             ["ASFDWordAttribute"])
    suite.eq("several: kept with its language",
             [(v.value, v.language) for n, v in ASF(path).tags if n == "WM/Mood"], [("calm", 0)])
    suite.eq("several: audio", ic.decoded_pcm(path) == pcm, True)

    # Other spellings of a field: kept as they are while unchanged,
    # replaced by the standard one when it changes.
    f = ASF(path)
    del f.tags["WM/Lyrics"]
    f.tags["WM/LYRICS"] = ["upper"]
    f.save()
    suite.set(path, "--title", "Again")
    suite.eq("spelling kept", values(path, "WM/Lyrics"), [("WM/LYRICS", "upper")])
    suite.set(path, "--lyrics", "standard")
    suite.eq("spelling replaced", values(path, "WM/Lyrics"), [("WM/Lyrics", "standard")])


def stream_facts_at_320k(suite):
    """A 320 kbit/s file is valid; its length is ffprobe's."""
    path = suite.path("x320.wma")
    ic.ffmpeg_tone(path, ["-c:a", "wmav2", "-b:a", "320k"], seconds=10)
    report = suite.show(path)[0]
    suite.eq("320k: valid", report["valid"], True)
    stream = report.get("stream", {})
    suite.eq("320k: bit rate", stream.get("bitrate"), 320)
    probe = ic.run(["ffprobe", "-v", "error", "-show_entries", "format=duration",
                    "-of", "default=nw=1:nk=1", path]).stdout.decode().strip()
    seconds = stream.get("seconds", 0)
    suite.check("320k: length %r, ffprobe %s" % (seconds, probe),
                abs(seconds - float(probe)) < 0.005)
    suite.check("320k: length %r, mutagen %r" % (seconds, ASF(path).info.length),
                abs(seconds - ASF(path).info.length) < 0.005)
    suite.set(path, "--title", "Loud")
    suite.eq("320k: saved title", values(path, "Title"), [("Title", "Loud")])


def main():
    args = ic.parse_args()
    ic.need("ffmpeg", "ffprobe")
    suite = ic.Suite(args.tool)
    path = suite.path("tone.wma")
    ic.ffmpeg_tone(path, ["-c:a", "wmav2", "-b:a", "64k"])
    fields = {"track": "3", "title": "Ça ira — тест", "artist": "Владимир",
              "album": "Älbum ☃", "year": "2004", "genre": "Trip Rock",
              "comment": "a comment", "lyrics": "la la ё", "composer": "Composer ö",
              "origArtist": "Original", "copyright": "(c) 2004",
              "url": "http://example.org/x", "encodedBy": "ffmpeg"}
    f = ASF(path)
    f.tags.clear()
    for k, v in fields.items():
        f.tags[KEYS[k]] = [v]
    f.tags["WM/Picture"] = [picture_value(ic.JPEG, "image/jpeg", "front")]
    f.tags["ReplayGain_Track_Gain"] = ["-6.20 dB"]
    f.tags["WM/PartOfSet"] = ["1/2"]
    f.save()

    report = ic.keyed_format_suite(
        suite, path, peer_read, fields, [],
        {"title": "Новое название", "artist": "Zoë", "album": "New ☃", "comment": "new ✓"})
    suite.eq("format", report["format"], "WMA")
    suite.eq("pictures", [(p["mime"], p["type"], p["description"], p["size"])
                          for p in report["pictures"]],
             [("image/jpeg", 3, "front", len(ic.JPEG))])
    info = ASF(path).info
    suite.eq("sample rate", report["stream"]["sampleRate"], info.sample_rate)
    suite.check("length", abs(report["stream"]["seconds"] - info.length) < 1.01)
    tags = ASF(path).tags
    suite.eq("kept ReplayGain", attr(tags, "ReplayGain_Track_Gain"), "-6.20 dB")
    suite.eq("kept PartOfSet", attr(tags, "WM/PartOfSet"), "1/2")
    pics = [v for k in tags.keys() if k.upper() == "WM/PICTURE" for v in tags[k]]
    suite.check("picture kept (%d)" % len(pics),
                len(pics) == 1 and bytes(pics[0].value).endswith(ic.JPEG))
    keeps_what_it_did_not_change(suite)
    stream_facts_at_320k(suite)
    suite.finish()


if __name__ == "__main__":
    main()
