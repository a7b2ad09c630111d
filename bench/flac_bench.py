#!/usr/bin/python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""FLAC read and title-save timings of sondrel-tag beside TagLib, over the
same generated files (a benchmark, not a test).

  bench/flac_bench.py --tool build/release/src/cli/sondrel-tag [--files 1000]
                      [--read-only [--pairs 9] [--baseline OTHER-sondrel-tag]]

The corpus: copies of a 1 s FLAC file made by the reference encoder, each
tagged by mutagen with the usual fields, every fifth with a 28 KB cover, and
the encoder's default padding, so a title change fits in place. Each read
timing is the best of several runs with the page cache warm, per file in
microseconds. --read-only times the reads alone, TagLib and sondrel-tag
(and a baseline build, when given) back to back in each round; the ratio is
the median of the rounds' ratios. The saves run in pairs, TagLib and
sondrel-tag back to back in alternating order with a fresh title each round,
so both see the same load of a shared machine; the ratio is the median of
the pairs' ratios. sondrel-tag's saves are durable when it returns (in place
under an undo journal, flushed); TagLib's are not flushed."""
import argparse
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

from mutagen.flac import FLAC, Picture

from run_bench import best_of, build_helpers, sh


def build_corpus(folder, count):
    wav = os.path.join(folder, "seed.wav")
    seed = os.path.join(folder, "seed.flac")
    sh(["ffmpeg", "-v", "error", "-nostdin", "-y", "-f", "lavfi", "-i",
        "sine=frequency=440:sample_rate=44100:duration=1", "-ac", "2", wav])
    sh(["flac", "-s", "-f", "-o", seed, wav])
    cover = os.urandom(28 * 1024)
    files = []
    for i in range(count):
        path = os.path.join(folder, "%05d.flac" % i)
        shutil.copy(seed, path)
        f = FLAC(path)
        f["TITLE"] = "Title %d" % i
        f["ARTIST"] = "Artist %d" % (i % 50)
        f["ALBUM"] = "Album %d" % (i % 200)
        f["TRACKNUMBER"] = str(i % 20 + 1)
        f["DATE"] = "2004"
        f["GENRE"] = "Rock"
        if i % 5 == 0:
            p = Picture()
            p.type, p.mime, p.data = 3, "image/jpeg", cover
            f.add_picture(p)
        f.save()
        files.append(path)
    return files


def paired_reads(work, tool, files, pairs, baseline=None):
    """TagLib and sondrel-tag run back to back, so both see the same load of
    a shared machine."""
    taglib_cmd = [os.path.join(work, "taglib_read")] + files
    cmds = [[tool, "show", "--json"] + files]
    if baseline:
        cmds.append([baseline, "show", "--json"] + files)
    best_of(taglib_cmd, runs=1)  # warm the page cache
    taglib, times = [], [[] for _ in cmds]
    for _ in range(pairs):
        taglib.append(best_of(taglib_cmd, runs=1))
        for c, t in zip(cmds, times):
            t.append(best_of(c, runs=1))
    n = len(files)
    us = lambda t: statistics.median(t) / n * 1e6  # noqa: E731
    for name, t in zip(("sondrel-tag", "baseline"), times):
        ratio = statistics.median(x / y for x, y in zip(t, taglib))
        print("read, per file (median of %d rounds): TagLib %.1f us, %s %.1f us (%.2fx TagLib)"
              % (pairs, us(taglib), name, us(t), ratio))
    return 0


def paired_saves(taglib_cmd, our_cmd, files, rounds):
    """Medians of TagLib's and our times and of the per-round ratios."""
    def timed(cmd):
        start = time.perf_counter()
        subprocess.run(cmd, check=True, stdout=subprocess.DEVNULL)
        return time.perf_counter() - start
    tl, ours, ratios = [], [], []
    for r in range(rounds):
        title = "Title %d" % r
        if r % 2 == 0:
            t = timed(taglib_cmd + [title] + files)
            o = timed(our_cmd + [title] + files)
        else:
            o = timed(our_cmd + [title] + files)
            t = timed(taglib_cmd + [title] + files)
        tl.append(t)
        ours.append(o)
        ratios.append(o / t)
    return statistics.median(tl), statistics.median(ours), statistics.median(ratios)


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--tool", required=True)
    p.add_argument("--files", type=int, default=1000)
    p.add_argument("--read-only", action="store_true",
                   help="time the reads alone, TagLib and sondrel-tag in rounds (median ratio)")
    p.add_argument("--pairs", type=int, default=9, help="rounds for --read-only")
    p.add_argument("--baseline", help="a second sondrel-tag to time beside --tool (--read-only)")
    p.add_argument("--rounds", type=int, default=7, help="paired save rounds")
    args = p.parse_args()
    work = tempfile.mkdtemp(prefix="sondrel-flac-bench-")
    try:
        build_helpers(work)
        corpus = os.path.join(work, "corpus")
        os.mkdir(corpus)
        files = build_corpus(corpus, args.files)
        if args.read_only:
            return paired_reads(work, args.tool, files, args.pairs, args.baseline)
        n = len(files)
        floor = best_of([os.path.join(work, "floor")] + files)
        taglib = best_of([os.path.join(work, "taglib_read")] + files)
        ours = best_of([args.tool, "show", "--json"] + files)
        tl_save, our_save, ratio = paired_saves(
            [os.path.join(work, "taglib_save")], [args.tool, "set", "--title"], files,
            args.rounds)
        us = lambda t: t / n * 1e6  # noqa: E731
        print("files: %d FLAC (%d with a 28 KB cover)" % (n, (n + 4) // 5))
        print("read, per file: floor %.1f us, TagLib %.1f us, sondrel-tag %.1f us (%.2fx TagLib)"
              % (us(floor), us(taglib), us(ours), ours / taglib))
        print("title save, per file, %d paired rounds: TagLib %.1f us, sondrel-tag %.1f us "
              "(ratio median %.2fx TagLib; goal at most 1.5x)"
              % (args.rounds, us(tl_save), us(our_save), ratio))
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
