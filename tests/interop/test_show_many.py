#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""`show` over a long list reads its files on several threads: the report of
each file and the errors must still come in the order given, exactly as the
file shows alone."""
import json
import os
import shutil

import interop_common as ic

ic.ensure_mutagen()
from mutagen.id3 import ID3, TIT2, TPE1  # noqa: E402
from mutagen.oggvorbis import OggVorbis  # noqa: E402

args = ic.parse_args()
ic.need("ffmpeg")
suite = ic.Suite(args.tool)

mp3 = suite.path("seed.mp3")
ogg = suite.path("seed.ogg")
ic.ffmpeg_tone(mp3, ["-c:a", "libmp3lame", "-id3v2_version", "0", "-write_id3v1", "0"])
ic.ffmpeg_tone(ogg, ["-c:a", "libvorbis"])

files = []
for i in range(120):
    if i % 10 == 3:
        path = suite.path("%03d.ogg" % i)
        shutil.copy(ogg, path)
        tags = OggVorbis(path)
        tags["TITLE"] = "Ogg %d" % i
        tags.save()
    elif i % 17 == 5:
        path = suite.path("%03d-missing.mp3" % i)
    elif i % 23 == 7:
        path = suite.path("%03d.mp3" % i)
        with open(path, "wb") as f:
            f.write(b"not audio at all %d" % i)
    else:
        path = suite.path("%03d.mp3" % i)
        shutil.copy(mp3, path)
        tags = ID3()
        tags.add(TIT2(encoding=3, text="Title %d" % i))
        tags.add(TPE1(encoding=1, text="Artist %d" % (i % 9)))
        tags.save(path, v2_version=3 + i % 2)
    files.append(path)

together = suite.tool_run("show", "--json", *files)
suite.eq("exit status of a list with failures", together.returncode, 1)
reports = json.loads(together.stdout.decode("utf-8"))
suite.eq("reports", [r["file"] for r in reports], files)
alone_errors = []
for path, report in zip(files, reports):
    alone = suite.tool_run("show", "--json", path)
    suite.eq("report of %s" % os.path.basename(path), report,
             json.loads(alone.stdout.decode("utf-8"))[0])
    alone_errors += alone.stderr.decode("utf-8").splitlines()
suite.eq("errors, in order", together.stderr.decode("utf-8").splitlines(), alone_errors)
suite.check("some files failed", len(alone_errors) >= 8)
suite.check("the titles were read", reports[0]["tags"]["title"] == "Title 0")

text = suite.tool_run("show", *files)
alone_text = [suite.tool_run("show", p).stdout.decode("utf-8") for p in files]
suite.eq("text output", text.stdout.decode("utf-8"), "\n".join(alone_text))

suite.finish()
