"""MP3 against mutagen: an MP3 made by ffmpeg (LAME), tagged by mutagen with
ID3v2.3 + ID3v1.1, non-ASCII texts, a picture and frames that no field
shows. sondrel-tag must read what mutagen wrote, and after its saves mutagen
must read the new values, the unshown frames must survive and the MPEG
frames must be the same bytes."""
import os
import shutil
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import interop_common as ic  # noqa: E402

ic.ensure_mutagen()
from mutagen.id3 import (APIC, COMM, ID3, PRIV, TALB, TCOM, TCON, TCOP, TENC,  # noqa: E402
                         TIT2, TOPE, TPE1, TPE2, TRCK, TXXX, TYER, USLT, WXXX)
from mutagen.mp3 import MP3  # noqa: E402


def make(suite, name):
    path = suite.path(name)
    ic.ffmpeg_tone(path, ["-c:a", "libmp3lame", "-b:a", "128k", "-id3v2_version", "0",
                          "-write_id3v1", "0"])
    tags = ID3()
    tags.add(TIT2(encoding=1, text="Ça ira — тест"))
    tags.add(TPE1(encoding=1, text="Владимир Высоцкий"))
    tags.add(TALB(encoding=1, text="Älbum ☃"))
    tags.add(TRCK(encoding=0, text="3/12"))
    tags.add(TYER(encoding=0, text="2004"))
    tags.add(TCON(encoding=0, text="(8)"))
    tags.add(COMM(encoding=1, lang="eng", desc="", text="a comment — ü"))
    tags.add(COMM(encoding=0, lang="eng", desc="iTunNORM", text=" 00000001 00000002"))
    tags.add(USLT(encoding=1, lang="eng", desc="", text="line one\nline two ё"))
    tags.add(TCOM(encoding=1, text="Composer ö"))
    tags.add(TOPE(encoding=0, text="Original"))
    tags.add(TCOP(encoding=0, text="(c) 2004"))
    tags.add(WXXX(encoding=0, desc="", url="http://example.org/x"))
    tags.add(TENC(encoding=0, text="LAME"))
    tags.add(TXXX(encoding=0, desc="REPLAYGAIN_TRACK_GAIN", text="-6.20 dB"))
    tags.add(PRIV(owner="com.example", data=b"\x00\x01\x02"))
    tags.add(APIC(encoding=0, mime="image/jpeg", type=3, desc="front", data=ic.JPEG))
    tags.save(path, v1=2, v2_version=3)
    return path


def first_text(tags, key):
    frame = tags.get(key)
    return str(frame.text[0]) if frame is not None and frame.text else ""


def frame_by_desc(tags, prefix, desc):
    for f in tags.getall(prefix):
        if f.desc == desc:
            return f
    return None


def peer_fields(path):
    """The fields as mutagen reads them, keyed like sondrel-tag's JSON."""
    tags = ID3(path, translate=False)
    comm = frame_by_desc(tags, "COMM", "")
    uslt = frame_by_desc(tags, "USLT", "")
    wxxx = frame_by_desc(tags, "WXXX", "")
    tcon = tags.get("TCON")
    return {
        "track": first_text(tags, "TRCK"),
        "title": first_text(tags, "TIT2"),
        "artist": first_text(tags, "TPE1"),
        "album": first_text(tags, "TALB"),
        "year": first_text(tags, "TYER") or first_text(tags, "TDRC"),
        "genre": tcon.genres[0] if tcon is not None and tcon.genres else "",
        "comment": str(comm.text[0]) if comm else "",
        "lyrics": uslt.text if uslt else "",
        "composer": first_text(tags, "TCOM"),
        "origArtist": first_text(tags, "TOPE"),
        "copyright": first_text(tags, "TCOP"),
        "url": wxxx.url if wxxx else "",
        "encodedBy": first_text(tags, "TENC"),
    }


def mpeg_frames(path):
    """The bytes between the ID3v2 tag and the trailing ID3v1 block."""
    with open(path, "rb") as f:
        data = f.read()
    start = 0
    if data[:3] == b"ID3":
        size = 0
        for b in data[6:10]:
            size = (size << 7) | b
        start = 10 + size
    end = len(data) - 128 if data[-128:-125] == b"TAG" else len(data)
    if data[end - 9:end] == b"LYRICS200":
        end -= int(data[end - 15:end - 9]) + 15
    return data[start:end]


def frames_as_read(path, leave_out=()):
    """Every frame but `leave_out` as mutagen reads it: key, content, language."""
    tags = ID3(path, translate=False)
    out = {}
    for key in tags.keys():
        if key.split(":")[0] in leave_out:
            continue
        frame = tags[key]
        out[key] = (frame.pprint(), getattr(frame, "lang", None))
    return out


def keeps_what_it_did_not_change(suite, audio):
    """Files from other taggers: described comments, several values in one
    frame, an album artist alone and the comment's language survive a
    title-only save as mutagen reads them."""
    cases = [
        # name, ID3v2 version, frames, what sondrel shows, version after a title save
        ("v24 several values", 4, [
            TPE1(encoding=3, text=["Anna", "Bert"]),
            TCON(encoding=3, text=["17", "52"]),
            COMM(encoding=3, lang="fra", desc="", text=["une note"]),
            COMM(encoding=3, lang="eng", desc="iTunNORM", text=[" 0000 0001"]),
            COMM(encoding=3, lang="eng", desc="iTunSMPB", text=[" 0000 0002"]),
            USLT(encoding=3, lang="eng", desc="external", text="not ours"),
            TXXX(encoding=3, desc="MULTI", text=["one", "two"]),
        ], {"artist": "Anna / Bert", "comment": "une note", "lyrics": ""}, "2.4"),
        ("v24 genre numbers only", 4, [
            TCON(encoding=0, text=["17", "52"]),
        ], {"genre": "Rock / Electronic"}, "2.3"),
        ("v23 described comment and album artist", 3, [
            TPE2(encoding=1, text=["The Band"]),
            COMM(encoding=1, lang="eng", desc="iTunNORM", text=[" 0000 0001"]),
        ], {"artist": "The Band", "comment": ""}, "2.3"),
    ]
    for name, version, frames, shown, after_version in cases:
        path = suite.path(name.replace(" ", "_") + ".mp3")
        with open(path, "wb") as f:
            f.write(audio)
        tags = ID3()
        for frame in frames:
            tags.add(frame)
        tags.save(path, v1=0, v2_version=version)
        before = frames_as_read(path)
        ours = suite.show(path)[0]["tags"]
        for key, want in shown.items():
            suite.eq("%s: shown %s" % (name, key), ours.get(key), want)
        suite.set(path, "--title", "Only the title", "--save", "2")
        after = frames_as_read(path, leave_out=("TIT2",))
        suite.eq("%s: other frames after a title save" % name, after, before)
        suite.eq("%s: title" % name, first_text(ID3(path), "TIT2"), "Only the title")
        suite.eq("%s: version" % name, "2.%d" % ID3(path).version[1], after_version)
        suite.eq("%s: audio" % name, mpeg_frames(path) == audio, True)

    # A changed comment replaces the plain one in its own language and
    # leaves the described ones alone.
    path = suite.path("v24_several_values.mp3")
    suite.set(path, "--comment", "changée", "--save", "2")
    tags = ID3(path, translate=False)
    plain = frame_by_desc(tags, "COMM", "")
    suite.eq("changed comment", str(plain.text[0]) if plain else None, "changée")
    suite.eq("changed comment language", plain.lang if plain else None, "fra")
    suite.eq("comments after the change", sorted(f.desc for f in tags.getall("COMM")),
             ["", "iTunNORM", "iTunSMPB"])


def compare_fields(suite, label, ours, peer):
    for key, want in peer.items():
        suite.eq("%s %s" % (label, key), ours["tags"].get(key), want)


def main():
    args = ic.parse_args()
    ic.need("ffmpeg")
    suite = ic.Suite(args.tool)
    path = make(suite, "tagged.mp3")
    audio = mpeg_frames(path)

    # -- Reading what mutagen wrote.
    report = suite.show(path)[0]
    compare_fields(suite, "read", report, peer_fields(path))
    suite.eq("format", report["format"], "MP3")
    suite.eq("valid", report["valid"], True)
    suite.eq("genreId", report["tags"]["genreId"], 8)
    suite.eq("tagKinds", report["tagKinds"],
             {"id3v1": True, "id3v2": True, "ape": False, "lyrics3": False})
    suite.eq("id3v2Version", report["id3v2Version"], "2.3")
    suite.eq("pictures", report["pictures"],
             [{"mime": "image/jpeg", "type": 3, "description": "front", "size": len(ic.JPEG)}])
    for item in ("TXXX:REPLAYGAIN_TRACK_GAIN", "PRIV", "COMM:iTunNORM"):
        suite.check("other lacks %s: %r" % (item, report["other"]), item in report["other"])
    for shown in ("TIT2", "COMM", "USLT", "WXXX", "APIC"):
        suite.check("other lists shown frame %s" % shown, shown not in report["other"])
    info = MP3(path).info
    stream = report["stream"]
    suite.eq("sample rate", stream["sampleRate"], info.sample_rate)
    # Averages differ by method (Xing counts vs. length); a few percent is fine.
    suite.check("bit rate %r vs %r" % (stream["bitrate"], info.bitrate),
                abs(stream["bitrate"] * 1000 - info.bitrate) <= info.bitrate * 0.04)
    suite.check("length %r vs %r" % (stream["seconds"], info.length),
                abs(stream["seconds"] - info.length) < 1.01)

    # -- Read choices: version 1 shows the ID3v1 block alone.
    v1 = suite.show(path, read="1")[0]["tags"]
    suite.eq("read 1 composer", v1["composer"], "Composer ö")  # the hub keeps v2's extras
    suite.eq("read 1 track", v1["track"], "3")
    suite.eq("read 1 year", v1["year"], "2004")

    # -- Saving: new values reach mutagen, nothing else is lost.
    suite.set(path, "--title", "Новое название", "--artist", "Zoë", "--genre", "Trip Rock",
              "--track", "5/9", "--comment", "new ✓", "--save", "2")
    peer = peer_fields(path)
    suite.eq("after set title", peer["title"], "Новое название")
    suite.eq("after set artist", peer["artist"], "Zoë")
    suite.eq("after set genre", peer["genre"], "Trip Rock")
    suite.eq("after set track", peer["track"], "5/9")
    suite.eq("after set comment", peer["comment"], "new ✓")
    suite.eq("after set album kept", peer["album"], "Älbum ☃")
    suite.eq("after set lyrics kept", peer["lyrics"], "line one\nline two ё")
    tags = ID3(path, translate=False)
    suite.check("TXXX kept", frame_by_desc(tags, "TXXX", "REPLAYGAIN_TRACK_GAIN") is not None)
    suite.check("PRIV kept", len(tags.getall("PRIV")) == 1
                and tags.getall("PRIV")[0].data == b"\x00\x01\x02")
    suite.check("COMM:iTunNORM kept", frame_by_desc(tags, "COMM", "iTunNORM") is not None)
    pics = tags.getall("APIC")
    suite.check("picture kept", len(pics) == 1 and pics[0].data == ic.JPEG and pics[0].desc == "front")
    suite.eq("audio after set", mpeg_frames(path) == audio, True)
    compare_fields(suite, "re-read", suite.show(path)[0], peer_fields(path))

    # -- A table genre is stored by number; save choice 1&2 refreshes ID3v1.
    suite.set(path, "--genre", "Rock", "--title", "Short")
    peer = peer_fields(path)
    suite.eq("table genre", peer["genre"], "Rock")
    with open(path, "rb") as f:
        f.seek(-128, 2)
        block = f.read(128)
    suite.eq("ID3v1 title", block[3:8], b"Short")
    suite.eq("ID3v1 genre byte", block[127], 17)
    suite.eq("audio after v1 save", mpeg_frames(path) == audio, True)

    # -- Pictures: add at the front, extract, delete.
    cover = suite.path("cover.jpg")
    with open(cover, "wb") as f:
        f.write(ic.JPEG + b"second")
    r = suite.tool_run("pictures", path, "--add", cover, "--pos", "0", "--desc", "Back ü")
    suite.eq("pictures --add exit", r.returncode, 0)
    pics = ID3(path).getall("APIC")
    suite.eq("picture count", len(pics), 2)
    if len(pics) == 2:
        suite.eq("added picture first", pics[0].data, ic.JPEG + b"second")
        suite.eq("added description", pics[0].desc, "Back ü")
    out = suite.path("out.jpg")
    r = suite.tool_run("pictures", path, "--extract", "1", out)
    suite.eq("pictures --extract exit", r.returncode, 0)
    suite.check("extracted bytes", os.path.exists(out) and open(out, "rb").read() == ic.JPEG)
    r = suite.tool_run("pictures", path, "--extract", "7", suite.path("none.jpg"))
    suite.eq("extract out of range exit", r.returncode, 1)
    suite.check("no empty file for a bad position", not os.path.exists(suite.path("none.jpg")))
    r = suite.tool_run("pictures", path, "--delete", "0")
    suite.eq("pictures --delete exit", r.returncode, 0)
    suite.eq("picture count after delete", len(ID3(path).getall("APIC")), 1)
    suite.eq("audio after pictures", mpeg_frames(path) == audio, True)

    # -- Removal.
    copy = suite.path("copy.mp3")
    shutil.copy(path, copy)
    r = suite.tool_run("remove", "--id3v1", copy)
    suite.eq("remove --id3v1 exit", r.returncode, 0)
    with open(copy, "rb") as f:
        data = f.read()
    suite.check("ID3v1 gone", data[-128:-125] != b"TAG")
    suite.eq("ID3v2 left", peer_fields(copy)["title"], "Short")
    r = suite.tool_run("remove", "--all", copy)
    suite.eq("remove --all exit", r.returncode, 0)
    with open(copy, "rb") as f:
        suite.eq("only audio left", f.read() == audio, True)

    keeps_what_it_did_not_change(suite, audio)

    # -- Failures: a missing file fails alone, the others are still saved.
    other = suite.path("other.mp3")
    shutil.copy(path, other)
    missing = suite.path("missing.mp3")
    r = suite.tool_run("set", "--album", "Both", missing, other)
    suite.eq("set with a missing file exit", r.returncode, 1)
    suite.check("error names the file", missing.encode() in r.stderr)
    suite.eq("the good file saved", peer_fields(other)["album"], "Both")
    suite.eq("usage error exit", suite.tool_run("set", other).returncode, 2)
    suite.eq("bad --read exit", suite.tool_run("show", "--read", "3", other).returncode, 2)

    suite.finish()


if __name__ == "__main__":
    main()
