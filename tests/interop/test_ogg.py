# SPDX-License-Identifier: GPL-3.0-or-later
"""Ogg Vorbis against mutagen: a file made by ffmpeg (libvorbis), comments
written by mutagen with non-ASCII text and keys that no field shows."""
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import interop_common as ic  # noqa: E402

ic.ensure_mutagen()
from mutagen.oggvorbis import OggVorbis  # noqa: E402

KEYS = {"track": "TRACKNUMBER", "title": "TITLE", "artist": "ARTIST", "album": "ALBUM",
        "year": "DATE", "genre": "GENRE", "comment": "COMMENT", "lyrics": "LYRICS",
        "composer": "COMPOSER", "origArtist": "ORIGINALARTIST", "copyright": "COPYRIGHT",
        "url": "CONTACT", "encodedBy": "ENCODED"}


def peer_read(path):
    tags = OggVorbis(path).tags
    return {k: (tags[v][0] if v in tags else "") for k, v in KEYS.items()}


def main():
    args = ic.parse_args()
    ic.need("ffmpeg")
    suite = ic.Suite(args.tool)
    path = suite.path("tone.ogg")
    ic.ffmpeg_tone(path, ["-c:a", "libvorbis", "-q:a", "2"])
    fields = {"track": "3/12", "title": "Ça ira — тест", "artist": "Владимир",
              "album": "Älbum ☃", "year": "2004", "genre": "Trip Rock",
              "comment": "a comment\nsecond line", "lyrics": "la la ё",
              "composer": "Composer ö", "origArtist": "Original", "copyright": "(c) 2004",
              "url": "http://example.org/x", "encodedBy": "ffmpeg"}
    f = OggVorbis(path)
    f.tags.clear()
    for k, v in fields.items():
        f.tags[KEYS[k]] = v
    f.tags["REPLAYGAIN_TRACK_GAIN"] = "-6.20 dB"
    f.tags["DISCNUMBER"] = "1"
    f.save()

    report = ic.keyed_format_suite(
        suite, path, peer_read, fields, ["REPLAYGAIN_TRACK_GAIN", "DISCNUMBER"],
        {"title": "Новое название", "artist": "Zoë", "genre": "Jazz", "comment": "new ✓"})
    suite.eq("format", report["format"], "Ogg")
    info = OggVorbis(path).info
    suite.eq("sample rate", report["stream"]["sampleRate"], info.sample_rate)
    suite.check("length", abs(report["stream"]["seconds"] - info.length) < 1.01)
    tags = OggVorbis(path).tags
    suite.eq("kept REPLAYGAIN", tags.get("REPLAYGAIN_TRACK_GAIN"), ["-6.20 dB"])
    suite.eq("kept DISCNUMBER", tags.get("DISCNUMBER"), ["1"])

    # The delete command leaves no field behind and the audio as it was.
    pcm = ic.decoded_pcm(path)
    r = suite.tool_run("remove", "--ogg", path)
    suite.eq("remove --ogg exit", r.returncode, 0)
    suite.eq("no title after remove", peer_read(path)["title"], "")
    suite.eq("audio after remove", ic.decoded_pcm(path) == pcm, True)
    suite.finish()


if __name__ == "__main__":
    main()
