# SPDX-License-Identifier: GPL-3.0-or-later
"""Shared plumbing of the interop scripts: arguments, the peer Python,
temporary folders, running sondrel-tag, and collecting differences."""
import argparse
import json
import os
import shutil
import subprocess
import sys
import tempfile

SKIP = 77  # CTest reports this exit status as a skipped test


def ensure_mutagen():
    """Re-runs the script under the system Python when this one lacks mutagen."""
    try:
        import mutagen  # noqa: F401
        return
    except ImportError:
        pass
    system = "/usr/bin/python3"
    if os.path.exists(system) and os.path.realpath(sys.executable) != os.path.realpath(system):
        os.execv(system, [system] + sys.argv)
    print("SKIP: mutagen is not installed")
    sys.exit(SKIP)


def parse_args():
    p = argparse.ArgumentParser()
    p.add_argument("--tool", required=True)
    p.add_argument("--data", required=True)
    return p.parse_args()


def need(*programs):
    missing = [p for p in programs if shutil.which(p) is None]
    if missing:
        print("SKIP: missing " + ", ".join(missing))
        sys.exit(SKIP)


def run(cmd, check=True):
    r = subprocess.run(cmd, capture_output=True)
    if check and r.returncode != 0:
        raise RuntimeError("%s failed (%d): %s" % (cmd, r.returncode, r.stderr.decode(errors="replace")))
    return r


class Suite:
    """Collects differences; `finish` prints them and sets the exit status."""

    def __init__(self, tool):
        self.tool = tool
        self.failures = []
        self.dir = tempfile.mkdtemp(prefix="sondrel-interop-")

    def path(self, name):
        return os.path.join(self.dir, name)

    def tool_run(self, *args):
        return subprocess.run([self.tool] + list(args), capture_output=True)

    def show(self, *files, read=None):
        args = ["show", "--json"] + (["--read", read] if read else []) + list(files)
        r = self.tool_run(*args)
        if r.returncode != 0:
            self.fail("show %s exited %d: %s" % (files, r.returncode, r.stderr.decode(errors="replace")))
        return json.loads(r.stdout.decode("utf-8"))

    def set(self, file, *fields, expect=0):
        r = self.tool_run("set", *fields, file)
        if r.returncode != expect:
            self.fail("set %s on %s exited %d (wanted %d): %s"
                      % (fields, file, r.returncode, expect, r.stderr.decode(errors="replace")))
        return r

    def eq(self, what, got, want):
        if got != want:
            self.fail("%s: sondrel %r, expected %r" % (what, got, want))

    def check(self, what, condition):
        if not condition:
            self.fail(what)

    def fail(self, message):
        self.failures.append(message)

    def finish(self):
        shutil.rmtree(self.dir, ignore_errors=True)
        for f in self.failures:
            print("FAIL: " + f)
        if self.failures:
            print("%d difference(s)" % len(self.failures))
            sys.exit(1)
        print("ok")
        sys.exit(0)


def ffmpeg_tone(out, codec_args, seconds=1):
    run(["ffmpeg", "-v", "error", "-nostdin", "-y", "-f", "lavfi", "-i",
         "sine=frequency=440:sample_rate=44100:duration=%s" % seconds, "-ac", "2"]
        + codec_args + [out])


def decoded_pcm(path):
    """The samples ffmpeg decodes, as bytes (for 'the audio is intact')."""
    r = run(["ffmpeg", "-v", "error", "-nostdin", "-i", path, "-map", "0:a", "-f", "s16le", "-"])
    return r.stdout


JPEG = bytes.fromhex("ffd8ffe000104a46494600010100000100010000") + b"\x00" * 200 + b"\xff\xd9"


def keyed_format_suite(suite, path, peer_read, peer_fields, other_keys, set_checks,
                       extra_set=()):
    """The checks every key/value format shares.

    peer_read(path) -> dict of sondrel-tag's tag keys as mutagen reads them;
    peer_fields: what was written, to compare the first read with;
    other_keys: item names that no field shows (must be listed and survive);
    set_checks: {json key: new value} set through sondrel-tag and read back.
    Returns the report of the first read."""
    pcm = decoded_pcm(path)
    report = suite.show(path)[0]
    suite.eq("valid", report["valid"], True)
    for key, want in peer_fields.items():
        suite.eq("read %s" % key, report["tags"].get(key), want)
    for key in other_keys:
        suite.check("other lacks %s: %r" % (key, report["other"]),
                    key in [o.upper() for o in report["other"]])
    options = {"track": "--track", "title": "--title", "artist": "--artist",
               "album": "--album", "year": "--year", "genre": "--genre",
               "comment": "--comment", "lyrics": "--lyrics", "composer": "--composer",
               "origArtist": "--orig-artist", "copyright": "--copyright", "url": "--url",
               "encodedBy": "--encoded-by"}
    args = list(extra_set)
    for key, value in set_checks.items():
        args += [options[key], value]
    suite.set(path, *args)
    after = peer_read(path)
    for key, value in set_checks.items():
        suite.eq("peer after set %s" % key, after.get(key), value)
    for key, want in peer_fields.items():
        if key not in set_checks and key != "genre":
            suite.eq("peer after set kept %s" % key, after.get(key), want)
    again = suite.show(path)[0]
    for key in other_keys:
        suite.check("after set, other lacks %s: %r" % (key, again["other"]),
                    key in [o.upper() for o in again["other"]])
    suite.eq("decoded audio unchanged", decoded_pcm(path) == pcm, True)
    return report
