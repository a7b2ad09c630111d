#!/usr/bin/python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Title changes of many files by sondrel-tag beside TagLib, paired in the
same run (a benchmark, not a test).

  bench/save_bench.py --tool build/release/src/cli/sondrel-tag
                      [--mp3 2000] [--flac 1000] [--rounds 7] [--gaps]

sondrel-tag saves the files of one command as save groups: every file's new
bytes written, flushed together, renamed, each folder flushed once; the
files are durable when it returns. TagLib's save does not flush at all.
Each round times TagLib and sondrel-tag back to back, in alternating order,
on the same files with a fresh title, each after an untimed sync so neither
flushes the other's data; the machine may be shared, so the figures are the
medians of the rounds and of the per-round ratios.
The MP3s are those of run_bench.py (ID3v2.3 + ID3v1, every fifth with a
28 KB cover), the FLAC files those of flac_bench.py (the encoder's padding,
so the title fits in place). --gaps also builds bench/job_gaps.cpp against
the release libraries and runs the window's several-file save over 1,000
of the MP3s: how long the window would go without answering events."""
import argparse
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

from run_bench import build_helpers, sh
import run_bench
import flac_bench

HERE = os.path.dirname(os.path.abspath(__file__))


def timed(cmd):
    # Neither side pays for the other's writes: TagLib leaves its data
    # unflushed, and a syncfs right after it would write that data too.
    os.sync()
    start = time.perf_counter()
    subprocess.run(cmd, check=True, stdout=subprocess.DEVNULL)
    return time.perf_counter() - start


def paired(name, taglib_cmd, our_cmd, files, rounds):
    tl, ours, ratios = [], [], []
    for r in range(rounds):
        title = "Title %s %d" % (name, r)
        a = lambda: timed(taglib_cmd + [title] + files)  # noqa: E731
        b = lambda: timed(our_cmd + [title] + files)  # noqa: E731
        if r % 2 == 0:
            t, o = a(), b()
        else:
            o, t = b(), a()
        tl.append(t)
        ours.append(o)
        ratios.append(o / t)
    n = len(files)
    print("%s title save, %d files, %d paired rounds: TagLib %.1f us, sondrel-tag %.1f us "
          "per file; ratio median %.2fx (rounds %s; goal at most 1.5x)"
          % (name, n, rounds, statistics.median(tl) / n * 1e6,
             statistics.median(ours) / n * 1e6, statistics.median(ratios),
             " ".join("%.2f" % x for x in ratios)))


def build_gaps(tool, out):
    lib = os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(tool))))
    libs = [os.path.join(lib, "libsondrel_%s.a" % n) for n in ("editor", "tags", "util")]
    flags = sh(["pkg-config", "--libs", "taglib", "libutf8proc"]).stdout.decode().split()
    exe = os.path.join(out, "job_gaps")
    sh(["c++", "-std=c++20", "-O2", "-I", os.path.join(HERE, "..", "src"),
        os.path.join(HERE, "job_gaps.cpp")] + libs + flags + ["-o", exe])
    return exe


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--tool", required=True)
    p.add_argument("--mp3", type=int, default=2000)
    p.add_argument("--flac", type=int, default=1000)
    p.add_argument("--rounds", type=int, default=7)
    p.add_argument("--gaps", action="store_true")
    args = p.parse_args()
    work = tempfile.mkdtemp(prefix="sondrel-save-bench-")
    try:
        build_helpers(work)
        taglib = [os.path.join(work, "taglib_save")]
        if args.mp3:
            folder = os.path.join(work, "mp3")
            os.mkdir(folder)
            mp3s, _ = run_bench.build_corpus(folder, args.mp3)
            paired("MP3", taglib, [args.tool, "set", "--save", "2", "--title"], mp3s,
                   args.rounds)
            if args.gaps:
                gaps = build_gaps(args.tool, work)
                one = os.path.join(work, "gaps")
                os.mkdir(one)
                for path in mp3s[:1000]:
                    shutil.copy(path, one)
                print(sh([gaps, one]).stdout.decode().strip())
        if args.flac:
            folder = os.path.join(work, "flac")
            os.mkdir(folder)
            flacs = flac_bench.build_corpus(folder, args.flac)
            paired("FLAC", taglib, [args.tool, "set", "--title"], flacs, args.rounds)
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
