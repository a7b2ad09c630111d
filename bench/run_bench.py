#!/usr/bin/python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Read and save timings of sondrel-tag beside TagLib and a bare-syscall
floor, over a generated corpus (a benchmark, not a test).

  bench/run_bench.py --tool build/release/src/cli/sondrel-tag [--files 2000]
                     [--baseline OTHER-sondrel-tag] [--read-only [--pairs 9]]

Builds the corpus under a temporary folder: MP3s of about 1 s with
ID3v2.3 + ID3v1.1 tags (every fifth with a 28 KB cover), plus a few Ogg and
M4A files for the read run. Each timing is the best of several runs with
the page cache warm, per file in microseconds. --baseline times a second
build (an earlier commit, say) in the same run, for before/after figures.
The flush program writes the same bytes back over each file's first 64
bytes and flushes them: the part of a safe in-place save no code change
can remove."""
import argparse
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

from mutagen.id3 import APIC, COMM, ID3, TALB, TCON, TIT2, TPE1, TRCK, TYER

HERE = os.path.dirname(os.path.abspath(__file__))


def sh(cmd, **kw):
    return subprocess.run(cmd, check=True, capture_output=True, **kw)


def build_helpers(out):
    for name in ("floor", "flush"):
        sh(["cc", "-O2", "-o", os.path.join(out, name), os.path.join(HERE, name + ".c")])
    flags = sh(["pkg-config", "--cflags", "--libs", "taglib"]).stdout.decode().split()
    for name in ("taglib_read", "taglib_save"):
        sh(["c++", "-O2", "-std=c++17", "-o", os.path.join(out, name),
            os.path.join(HERE, name + ".cpp")] + flags)


def build_corpus(folder, count):
    seed = os.path.join(folder, "seed.mp3")
    sh(["ffmpeg", "-v", "error", "-nostdin", "-y", "-f", "lavfi", "-i",
        "sine=frequency=440:sample_rate=44100:duration=1", "-c:a", "libmp3lame",
        "-b:a", "128k", "-id3v2_version", "0", "-write_id3v1", "0", seed])
    cover = os.urandom(28 * 1024)
    mp3s = []
    for i in range(count):
        path = os.path.join(folder, "%05d.mp3" % i)
        shutil.copy(seed, path)
        tags = ID3()
        tags.add(TIT2(encoding=0, text="Title %d" % i))
        tags.add(TPE1(encoding=0, text="Artist %d" % (i % 50)))
        tags.add(TALB(encoding=0, text="Album %d" % (i % 200)))
        tags.add(TRCK(encoding=0, text=str(i % 20 + 1)))
        tags.add(TYER(encoding=0, text="2004"))
        tags.add(TCON(encoding=0, text="(17)"))
        tags.add(COMM(encoding=0, lang="eng", desc="", text="comment"))
        if i % 5 == 0:
            tags.add(APIC(encoding=0, mime="image/jpeg", type=3, desc="", data=cover))
        tags.save(path, v1=2, v2_version=3)
        mp3s.append(path)
    others = []
    for ext, codec in (("ogg", ["-c:a", "libvorbis"]), ("m4a", ["-c:a", "aac"])):
        for i in range(20):
            path = os.path.join(folder, "%02d.%s" % (i, ext))
            sh(["ffmpeg", "-v", "error", "-nostdin", "-y", "-f", "lavfi", "-i",
                "sine=frequency=440:sample_rate=44100:duration=1"] + codec
               + ["-metadata", "title=T%d" % i, path])
            others.append(path)
    return mp3s, others


def one_core():
    """Pins a child to the first core this process may use."""
    os.sched_setaffinity(0, {min(os.sched_getaffinity(0))})


def best_of(cmd, runs=5, pinned=False):
    best = None
    for _ in range(runs):
        start = time.perf_counter()
        subprocess.run(cmd, check=True, stdout=subprocess.DEVNULL,
                       preexec_fn=one_core if pinned else None)
        elapsed = time.perf_counter() - start
        best = elapsed if best is None else min(best, elapsed)
    return best


def paired_reads(work, tool, mp3s, pairs, baseline=None):
    """Floor and sondrel-tag run back to back, so both see the same load of a
    shared machine; the ratio is the median of the pairs' ratios. A baseline
    build runs in the same rounds, beside the same floor. sondrel-tag reads
    on one thread per core; each round also times it held to one core, the
    cost of the read itself beside the single-threaded floor."""
    floor_cmd = [os.path.join(work, "floor")] + mp3s
    ours_cmd = [tool, "show", "--json"] + mp3s
    base_cmd = baseline and [baseline, "show", "--json"] + mp3s
    best_of(floor_cmd, runs=1)  # warm the page cache
    ratios, floors, ours, base_ratios, bases = [], [], [], [], []
    single, single_ratios = [], []
    for _ in range(pairs):
        f = best_of(floor_cmd, runs=1)
        o = best_of(ours_cmd, runs=1)
        floors.append(f)
        ours.append(o)
        ratios.append(o / f)
        s = best_of(ours_cmd, runs=1, pinned=True)
        single.append(s)
        single_ratios.append(s / f)
        if base_cmd:
            b = best_of(base_cmd, runs=1)
            bases.append(b)
            base_ratios.append(b / f)
    n = len(mp3s)
    print("read, per MP3 (median of %d pairs): floor %.1f us, sondrel-tag %.1f us, "
          "ratio %.2f" % (pairs, statistics.median(floors) / n * 1e6,
                          statistics.median(ours) / n * 1e6, statistics.median(ratios)))
    print("read, per MP3, sondrel-tag held to one core: %.1f us, ratio %.2f"
          % (statistics.median(single) / n * 1e6, statistics.median(single_ratios)))
    if base_cmd:
        print("read, per MP3, baseline: sondrel-tag %.1f us, ratio %.2f"
              % (statistics.median(bases) / n * 1e6, statistics.median(base_ratios)))
    return 0


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--tool", required=True)
    p.add_argument("--files", type=int, default=2000)
    p.add_argument("--baseline", help="a second sondrel-tag to time beside --tool")
    p.add_argument("--read-only", action="store_true",
                   help="time the reads alone, floor and sondrel-tag in pairs (median ratio)")
    p.add_argument("--pairs", type=int, default=9, help="paired read runs for --read-only")
    args = p.parse_args()
    work = tempfile.mkdtemp(prefix="sondrel-bench-")
    try:
        build_helpers(work)
        corpus = os.path.join(work, "corpus")
        os.mkdir(corpus)
        mp3s, others = build_corpus(corpus, args.files)
        n = len(mp3s)
        if args.read_only:
            return paired_reads(work, args.tool, mp3s, args.pairs, args.baseline)
        floor = best_of([os.path.join(work, "floor")] + mp3s)
        taglib = best_of([os.path.join(work, "taglib_read")] + mp3s)
        ours = best_of([args.tool, "show", "--json"] + mp3s)
        base = args.baseline and best_of([args.baseline, "show", "--json"] + mp3s)
        mixed = best_of([args.tool, "show", "--json"] + others, runs=3)
        # Saves: the title of a tag that keeps its size fits the old space.
        tl_save = best_of([os.path.join(work, "taglib_save"), "Title X"] + mp3s, runs=3)
        our_save = best_of([args.tool, "set", "--save", "2", "--title", "Title Y"] + mp3s,
                           runs=3)
        base_save = args.baseline and best_of(
            [args.baseline, "set", "--save", "2", "--title", "Title Z"] + mp3s, runs=3)
        flush = best_of([os.path.join(work, "flush")] + mp3s, runs=3)
        us = lambda t, count=n: t / count * 1e6  # noqa: E731
        print("files: %d MP3 (%d with a 28 KB cover), %d Ogg/M4A"
              % (n, (n + 4) // 5, len(others)))
        print("read, per MP3:  floor %.1f us, TagLib %.1f us (%.1fx floor), "
              "sondrel-tag %.1f us (%.1fx floor, %.2fx TagLib)"
              % (us(floor), us(taglib), taglib / floor, us(ours), ours / floor, ours / taglib))
        print("read, per Ogg/M4A: sondrel-tag %.1f us" % us(mixed, len(others)))
        if base:
            print("read, per MP3, baseline: sondrel-tag %.1f us (%.1fx floor, %.2fx TagLib)"
                  % (us(base), base / floor, base / taglib))
        print("title save, per MP3: TagLib %.1f us, sondrel-tag %.1f us (%.2fx)"
              % (us(tl_save), us(our_save), our_save / tl_save))
        if base_save:
            print("title save, per MP3, baseline: sondrel-tag %.1f us (%.2fx TagLib)"
                  % (us(base_save), base_save / tl_save))
        print("flush alone (write 64 bytes back, fsync), per MP3: %.1f us (%.2fx TagLib's save)"
              % (us(flush), flush / tl_save))
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
