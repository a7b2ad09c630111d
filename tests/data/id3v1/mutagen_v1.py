# SPDX-License-Identifier: GPL-3.0-or-later
"""Peer check for ID3v1: reads or writes the ID3v1 tag of a file with mutagen.

  mutagen_v1.py read FILE     -> prints the fields as JSON
  mutagen_v1.py write FILE TITLE ARTIST ALBUM YEAR TRACK GENRE

mutagen copies a comment into ID3v1 only from a frame keyed plain "COMM",
which ordinary comment frames never are, so no comment is written.
"""
import json
import sys

from mutagen.id3 import ID3, TIT2, TPE1, TALB, TDRC, COMM, TRCK, TCON


def read(path):
    tags = ID3(path)  # no ID3v2 header: mutagen falls back to the ID3v1 block
    def text(key):
        frame = tags.get(key)
        return str(frame.text[0]) if frame is not None else None
    comm = [f for k, f in tags.items() if k.startswith("COMM")]
    genre = tags.get("TCON")
    print(json.dumps({
        "title": text("TIT2"),
        "artist": text("TPE1"),
        "album": text("TALB"),
        "year": text("TDRC"),
        "comment": str(comm[0].text[0]) if comm else None,
        "track": text("TRCK"),
        "genre": genre.genres[0] if genre is not None and genre.genres else None,
    }, ensure_ascii=False))


def write(path, title, artist, album, year, track, genre):
    tags = ID3()
    tags.add(TIT2(encoding=0, text=title))
    tags.add(TPE1(encoding=0, text=artist))
    tags.add(TALB(encoding=0, text=album))
    tags.add(TDRC(encoding=0, text=year))
    tags.add(TRCK(encoding=0, text=track))
    tags.add(TCON(encoding=0, text=genre))
    # v1=2 adds the ID3v1 block at the end; the ID3v2 tag mutagen also puts
    # at the front does not matter to a reader of the end of the file.
    tags.save(path, v1=2)


if __name__ == "__main__":
    if sys.argv[1] == "read":
        read(sys.argv[2])
    else:
        write(*sys.argv[2:9])
