# SPDX-License-Identifier: GPL-3.0-or-later
"""Musepack against mutagen: a file made by mpcenc, an APE tag written by
mutagen with non-ASCII text and items that no field shows."""
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import interop_common as ic  # noqa: E402

ic.ensure_mutagen()
from mutagen.apev2 import APEv2  # noqa: E402
from mutagen.musepack import Musepack  # noqa: E402

KEYS = {"track": "Track", "title": "Title", "artist": "Artist", "album": "Album",
        "year": "Year", "genre": "Genre", "comment": "Comment", "lyrics": "Lyrics",
        "composer": "Composer", "origArtist": "OrigArtist", "copyright": "Copyright",
        "url": "URL", "encodedBy": "EncodedBy"}


def peer_read(path):
    tags = APEv2(path)
    return {k: (str(tags[v]) if v in tags else "") for k, v in KEYS.items()}


def main():
    args = ic.parse_args()
    ic.need("ffmpeg", "mpcenc")
    suite = ic.Suite(args.tool)
    wav = suite.path("tone.wav")
    ic.ffmpeg_tone(wav, ["-c:a", "pcm_s16le"])
    path = suite.path("tone.mpc")
    ic.run(["mpcenc", "--silent", "--overwrite", wav, path])
    fields = {"track": "3", "title": "Ça ira — тест", "artist": "Владимир",
              "album": "Älbum ☃", "year": "2004", "genre": "Trip Rock",
              "comment": "a comment", "lyrics": "la la ё", "composer": "Composer ö",
              "origArtist": "Original", "copyright": "(c) 2004",
              "url": "http://example.org/x", "encodedBy": "mpcenc"}
    tags = APEv2()
    for k, v in fields.items():
        tags[KEYS[k]] = v
    tags["REPLAYGAIN_TRACK_GAIN"] = "-6.20 dB"
    tags["Disc"] = "1"
    tags.save(path)

    report = ic.keyed_format_suite(
        suite, path, peer_read, fields, ["REPLAYGAIN_TRACK_GAIN", "DISC"],
        {"title": "Новое название", "artist": "Zoë", "genre": "Jazz", "comment": "new ✓"})
    suite.eq("format", report["format"], "MPC")
    suite.eq("ape tag kind", report["tagKinds"]["ape"], True)
    info = Musepack(path).info
    suite.eq("sample rate", report["stream"]["sampleRate"], info.sample_rate)
    suite.check("length %r vs %r" % (report["stream"]["seconds"], info.length),
                abs(report["stream"]["seconds"] - info.length) < 1.01)
    tags = APEv2(path)
    suite.eq("kept REPLAYGAIN", str(tags.get("REPLAYGAIN_TRACK_GAIN")), "-6.20 dB")
    suite.eq("kept Disc", str(tags.get("Disc")), "1")
    suite.finish()


if __name__ == "__main__":
    main()
