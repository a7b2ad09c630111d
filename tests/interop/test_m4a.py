# SPDX-License-Identifier: GPL-3.0-or-later
"""MP4/M4A against mutagen: AAC in MP4 made by ffmpeg, items written by
mutagen with non-ASCII text, a cover and items that no field shows."""
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import interop_common as ic  # noqa: E402

ic.ensure_mutagen()
from mutagen.mp4 import MP4, MP4Cover, MP4FreeForm  # noqa: E402

TEXT_KEYS = {"title": "\xa9nam", "artist": "\xa9ART", "album": "\xa9alb", "year": "\xa9day",
             "genre": "\xa9gen", "comment": "\xa9cmt", "lyrics": "\xa9lyr",
             "composer": "\xa9wrt", "copyright": "cprt", "encodedBy": "\xa9too"}
FREE_KEYS = {"origArtist": "----:com.apple.iTunes:ORIGINAL ARTIST",
             "url": "----:com.apple.iTunes:URL"}
GAIN = "----:com.apple.iTunes:REPLAYGAIN_TRACK_GAIN"


def peer_read(path):
    tags = MP4(path).tags or {}
    out = {k: (str(tags[v][0]) if v in tags else "") for k, v in TEXT_KEYS.items()}
    for k, v in FREE_KEYS.items():
        out[k] = bytes(tags[v][0]).decode("utf-8") if v in tags else ""
    if "trkn" in tags:
        n, total = tags["trkn"][0]
        out["track"] = "%d/%d" % (n, total) if total else str(n)
    else:
        out["track"] = ""
    return out


def main():
    args = ic.parse_args()
    ic.need("ffmpeg")
    suite = ic.Suite(args.tool)
    path = suite.path("tone.m4a")
    ic.ffmpeg_tone(path, ["-c:a", "aac", "-b:a", "96k"])
    fields = {"track": "3/12", "title": "Ça ira — тест", "artist": "Владимир",
              "album": "Älbum ☃", "year": "2004", "genre": "Trip Rock",
              "comment": "a comment", "lyrics": "la la ё", "composer": "Composer ö",
              "origArtist": "Original", "copyright": "(c) 2004",
              "url": "http://example.org/x", "encodedBy": "ffmpeg"}
    f = MP4(path)
    f.tags.clear()
    for k, v in TEXT_KEYS.items():
        f.tags[v] = [fields[k]]
    for k, v in FREE_KEYS.items():
        f.tags[v] = [MP4FreeForm(fields[k].encode("utf-8"))]
    f.tags["trkn"] = [(3, 12)]
    f.tags["disk"] = [(1, 2)]
    f.tags[GAIN] = [MP4FreeForm(b"-6.20 dB")]
    f.tags["covr"] = [MP4Cover(ic.JPEG, imageformat=MP4Cover.FORMAT_JPEG)]
    f.save()

    report = ic.keyed_format_suite(
        suite, path, peer_read, fields, [],
        {"title": "Новое название", "artist": "Zoë", "album": "New ☃", "comment": "new ✓"})
    suite.eq("format", report["format"], "MP4")
    suite.eq("picture count", len(report["pictures"]), 1)
    if report["pictures"]:
        suite.eq("picture size", report["pictures"][0]["size"], len(ic.JPEG))
    info = MP4(path).info
    suite.eq("sample rate", report["stream"]["sampleRate"], info.sample_rate)
    suite.check("length", abs(report["stream"]["seconds"] - info.length) < 1.01)
    tags = MP4(path).tags
    suite.eq("kept disk", tags.get("disk"), [(1, 2)])
    suite.check("kept gain", GAIN in tags and bytes(tags[GAIN][0]) == b"-6.20 dB")
    suite.check("kept cover", "covr" in tags and bytes(tags["covr"][0]) == ic.JPEG)
    suite.finish()


if __name__ == "__main__":
    main()
