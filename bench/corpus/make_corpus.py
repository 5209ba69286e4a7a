#!/usr/bin/env python3
"""Writes the benchmark data sets of Zentrove, the same bytes for the same seed.

  make_corpus.py [--seed N] [--size-mb M] mixed OUT
      About M megabytes (300 by default) of mixed files: text, binaries that compress in part,
      already compressed files, thousands of small files in nested folders, names outside ASCII,
      empty files and empty folders, one large file.
  make_corpus.py [--seed N] [--files F] [--folders D] small OUT
      F small files (50,000 by default, 0 to 4 KB) spread over D folders (500 by default).
  make_corpus.py [--seed N] [--files F] [--folders D] tiny OUT
      F empty or tiny files (0 to 64 bytes; F = 1,000,000 is the memory data set) over D folders.

Every file gets a fixed modification time derived from the seed, so two trees written with the
same arguments are equal in contents and times. OUT must not exist yet.
"""

import argparse
import os
import random
import sys
import zlib

WORDS = (
    "backup archive folder copy file task schedule daily weekly report invoice budget letter draft "
    "project notes meeting summary contract order customer supplier archive quarterly annual "
    "the of and to in is that for it as with was on be by at this from or have an are not "
    "Zentrove Übersicht Größe façade naïve déjà vu смета отчёт 報告 資料 データ"
).split()

NAMES = [
    "Übersicht 2024.txt", "Größe und Maß.csv", "façade naïve.doc", "смета на март.xls",
    "отчёт за квартал.txt", "報告書.txt", "資料 一覧.csv", "データ.bin", "Ελληνικά.txt",
    "עברית.txt", "emoji 😀 notes.txt", "name with  two blanks.txt", "semi;colon.txt",
    "percent %20 name.txt", "quote 'single'.txt", "brackets [1] (2) {3}.txt", "tab\tname.txt",
]


def text_bytes(rng, size):
    out = []
    length = 0
    while length < size:
        line = " ".join(rng.choice(WORDS) for _ in range(rng.randint(4, 14))) + "\n"
        out.append(line)
        length += len(line.encode())
    return "".join(out).encode()[:size]


def binary_bytes(rng, size):
    """Structured records with a random part, so deflate gets about half of it."""
    out = bytearray()
    counter = 0
    while len(out) < size:
        out += counter.to_bytes(4, "little") + b"\x00\x00REC" + rng.randbytes(8) + bytes(16)
        counter += 1
    return bytes(out[:size])


def compressed_bytes(rng, size):
    """What a photo or an archive looks like to a compressor: no redundancy left."""
    return rng.randbytes(size)


class Writer:
    def __init__(self, root, seed):
        self.root = root
        self.rng = random.Random(seed)
        self.base_time = 1700000000 + seed % 10000000
        self.total = 0
        self.count = 0

    def write(self, relative, data):
        path = os.path.join(self.root, relative)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)
        stamp = self.base_time + self.count * 37
        os.utime(path, (stamp, stamp))
        self.total += len(data)
        self.count += 1


def mixed(out, seed, size_mb):
    w = Writer(out, seed)
    rng = w.rng
    budget = size_mb * 1024 * 1024
    shares = {"text": 0.22, "binary": 0.25, "compressed": 0.28, "big": 0.18}

    # Many small files in nested folders: documents and source-like text.
    for i in range(6000):
        folder = "small/%02d/%02d" % (i % 30, (i // 30) % 12)
        w.write("%s/note%05d.txt" % (folder, i), text_bytes(rng, rng.randint(0, 4096)))

    # Names outside ASCII and odd characters.
    for i, name in enumerate(NAMES * 8):
        w.write("names/%d/%s" % (i % 8, name), text_bytes(rng, rng.randint(10, 20000)))

    target = w.total + budget * shares["text"]
    i = 0
    while w.total < target:
        w.write("text/doc%04d.txt" % i, text_bytes(rng, rng.randint(4096, 400000)))
        i += 1

    target = w.total + budget * shares["binary"]
    i = 0
    while w.total < target:
        w.write("binary/data%03d.bin" % i, binary_bytes(rng, rng.randint(200000, 6000000)))
        i += 1

    target = w.total + budget * shares["compressed"]
    i = 0
    while w.total < target:
        extension = (".jpg", ".zip", ".mp3", ".gz")[i % 4]
        data = compressed_bytes(rng, rng.randint(300000, 8000000))
        if extension == ".gz":
            data = zlib.compress(text_bytes(rng, len(data)), 6)
        w.write("compressed/item%03d%s" % (i, extension), data)
        i += 1

    remaining = max(budget - w.total, 1024 * 1024)
    w.write("big/disk-image.img", binary_bytes(rng, remaining // 2) + compressed_bytes(rng, remaining - remaining // 2))

    for i in range(5):
        w.write("empty-files/empty%d.dat" % i, b"")
    for i in range(5):
        os.makedirs(os.path.join(out, "empty-folders", "e%d" % i, "inner"), exist_ok=True)
    return w


def small(out, seed, files, folders):
    w = Writer(out, seed)
    rng = w.rng
    for i in range(files):
        folder = i % folders
        w.write("d%02d/f%03d/file%05d.txt" % (folder // 25, folder, i), text_bytes(rng, rng.randint(0, 4096)))
    return w


def tiny(out, seed, files, folders):
    """Many files with next to no data: what a run costs per file, not per byte."""
    w = Writer(out, seed)
    rng = w.rng
    for i in range(files):
        folder = i % folders
        size = 0 if rng.random() < 0.3 else rng.randint(1, 64)
        w.write("t%02d/g%04d/f%07d" % (folder // 100, folder, i), text_bytes(rng, size) if size else b"")
    return w


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--seed", type=int, default=20240305)
    parser.add_argument("--size-mb", type=int, default=300)
    parser.add_argument("--files", type=int, default=50000)
    parser.add_argument("--folders", type=int, default=500)
    parser.add_argument("kind", choices=("mixed", "small", "tiny"))
    parser.add_argument("out")
    args = parser.parse_args()
    if os.path.exists(args.out):
        sys.exit("make_corpus.py: %s exists already" % args.out)
    os.makedirs(args.out)
    if args.kind == "mixed":
        w = mixed(args.out, args.seed, args.size_mb)
    elif args.kind == "small":
        w = small(args.out, args.seed, args.files, args.folders)
    else:
        w = tiny(args.out, args.seed, args.files, args.folders)
    print("%s: %d files, %.1f MB" % (args.out, w.count, w.total / 1048576.0))


if __name__ == "__main__":
    main()
