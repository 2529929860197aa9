#!/usr/bin/env python3
"""Writes the installation benchmark's corpus: about 2,000 files and 150 MB
in a folder tree, the same bytes on every run (fixed seed).

  make_corpus.py FOLDER [--files N] [--megabytes M]

The mix is what installers carry: text (sources, documentation, settings:
compresses about 4:1), program-like binaries (code, tables, resources:
about 2:1) and incompressible data (media, archives)."""

import argparse
import os
import random

WORDS = ("install setup folder file the of and to in is for with program data value "
         "registry window message stream volume group page text error return int "
         "const char struct void static if else while for unsigned size offset buffer "
         "path name version section key string length count table entry record").split()


def text_pool(r):
    lines = []
    for _ in range(4000):
        indent = " " * (2 * r.randint(0, 4))
        words = " ".join(r.choice(WORDS) for _ in range(r.randint(2, 14)))
        tail = r.choice(["", ";", " {", "}", ".", ",", " = %d;" % r.randint(0, 99999)])
        lines.append((indent + words + tail + "\n").encode())
    return lines


def binary_pool(r):
    """4 KB chunks of code-like, table-like, sparse and random bytes."""
    chunks = []
    opcodes = bytes(r.randrange(256) for _ in range(48))
    for i in range(512):
        kind = i % 4
        if kind == 0:    # code: a small alphabet of frequent bytes
            chunk = bytes(r.choice(opcodes) if r.random() < 0.7 else r.randrange(256)
                          for _ in range(4096))
        elif kind == 1:  # tables of records
            rec = bytes(r.randrange(256) for _ in range(r.choice([8, 12, 16, 24])))
            chunk = b"".join(rec[:-2] + r.randrange(65536).to_bytes(2, "little")
                             for _ in range(4096 // len(rec) + 1))[:4096]
        elif kind == 2:  # mostly zero with values sprinkled in
            b = bytearray(4096)
            for _ in range(300):
                b[r.randrange(4096)] = r.randrange(256)
            chunk = bytes(b)
        else:            # packed resources
            chunk = r.randbytes(4096)
        chunks.append(chunk)
    return chunks


def sizes(r, n, total):
    """n sizes of a skewed distribution (many small files, a few large ones)
    scaled to total bytes."""
    raw = [r.lognormvariate(0, 1.6) for _ in range(n)]
    scale = total / sum(raw)
    return [max(1, int(x * scale)) for x in raw]


def main():
    a = argparse.ArgumentParser()
    a.add_argument("folder")
    a.add_argument("--files", type=int, default=2000)
    a.add_argument("--megabytes", type=int, default=150)
    args = a.parse_args()
    r = random.Random(20261207)
    total = args.megabytes * 1024 * 1024
    lines, chunks = text_pool(r), binary_pool(r)
    kinds = [("text", 0.45, 0.25), ("binary", 0.40, 0.45), ("random", 0.15, 0.30)]
    folders = ["."] + ["%s/%s" % (a_, b_) for a_ in ("bin", "lib", "doc", "data", "res")
                       for b_ in (".", "x", "y", "z")]
    written = count = 0
    for kind, share_files, share_bytes in kinds:
        n = int(args.files * share_files)
        for i, size in enumerate(sizes(r, n, total * share_bytes)):
            folder = r.choice(folders)
            ext = {"text": ".txt", "binary": ".dll", "random": ".dat"}[kind]
            path = os.path.join(args.folder, folder, "%s%04d%s" % (kind, i, ext))
            os.makedirs(os.path.dirname(path), exist_ok=True)
            out = bytearray()
            if kind == "text":
                while len(out) < size:
                    out += r.choice(lines)
            elif kind == "binary":
                while len(out) < size:
                    out += r.choice(chunks)[:r.randint(512, 4096)]
            else:
                out = r.randbytes(size)
            with open(path, "wb") as f:
                f.write(out[:size])
            written += size
            count += 1
    print("corpus: %d files, %.1f MB in %s" % (count, written / 1048576, args.folder))


if __name__ == "__main__":
    main()
