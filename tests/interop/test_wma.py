"""Windows Media Audio against mutagen: a file made by ffmpeg (wmav2),
attributes written by mutagen with non-ASCII text, a picture and
attributes that no field shows."""
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import interop_common as ic  # noqa: E402

ic.ensure_mutagen()
from mutagen.asf import ASF, ASFByteArrayAttribute  # noqa: E402

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


def main():
    args = ic.parse_args()
    ic.need("ffmpeg")
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
    suite.finish()


if __name__ == "__main__":
    main()
