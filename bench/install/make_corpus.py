#!/usr/bin/env python3
"""Writes a corpus of the installation benchmark, the same bytes on every run
(fixed seed).

  make_corpus.py FOLDER [--files N] [--megabytes M]   # a product's tree
  make_corpus.py FOLDER --one-file M                   # one file of M MB

The tree is what installers carry: text (sources, documentation, settings:
compresses about 4:1), program-like binaries (code, tables, resources:
about 2:1) and incompressible data (media, archives), in nested folders,
and files that a product holds more than once: licence texts beside every
plug-in, the same icons in several themes, translations that two languages
or several plug-ins share. The one file mixes the same kinds in 64 KB
blocks."""

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


FOLDERS = [".", "bin", "bin/plugins/audio", "bin/plugins/video", "bin/plugins/net",
           "bin/plugins/print", "lib", "lib/python3/core", "lib/python3/ext/json",
           "lib/python3/ext/xml", "lib/python3/ext/sqlite", "share/doc", "share/doc/api/html",
           "share/doc/api/html/search", "share/doc/api/html/classes", "data", "data/maps/eu",
           "data/maps/us", "data/samples", "res", "res/ui/dialogs", "res/ui/themes/dark",
           "res/ui/themes/light", "res/ui/themes/contrast"]
PLUGINS = ["bin/plugins/audio", "bin/plugins/video", "bin/plugins/net", "bin/plugins/print"]
LANGUAGES = ["de", "fr", "es", "it", "ja", "ko", "nl", "pl", "pt", "ru", "sv", "zh_CN"]


def text_file(r, lines, size):
    out = bytearray()
    while len(out) < size:
        out += r.choice(lines)
    return bytes(out[:size])


def binary_file(r, chunks, size):
    out = bytearray()
    while len(out) < size:
        out += r.choice(chunks)[:r.randint(512, 4096)]
    return bytes(out[:size])


def duplicates(r, lines, chunks):
    """(paths, bytes) of the files a product holds more than once."""
    licence = text_file(r, lines, 21000)
    library_licence = text_file(r, lines, 26000)
    icons = [binary_file(r, chunks, n) for n in (48000, 22000, 9000)]
    translations = {lang: text_file(r, lines, r.randint(60000, 180000)) for lang in LANGUAGES}
    plugin_text = {lang: text_file(r, lines, r.randint(8000, 30000)) for lang in LANGUAGES[:6]}
    out = []
    for folder in [".", "lib/python3/ext/json", "lib/python3/ext/xml", "share/doc"] + PLUGINS:
        out.append(([folder + "/LICENSE.txt"], licence))
    out.append((["lib/COPYING.LIB", "lib/python3/core/COPYING.LIB", "bin/COPYING.LIB"], library_licence))
    for i, icon in enumerate(icons):
        places = ["res/ui/themes/%s/icon%d.ico" % (t, i) for t in ("dark", "light", "contrast")]
        out.append((places + ["%s/icon%d.ico" % (p, i) for p in PLUGINS[:2]], icon))
    for lang, data in translations.items():
        places = ["share/locale/%s/LC_MESSAGES/app.mo" % lang]
        if lang == "pt":  # one translation serves two languages
            places.append("share/locale/pt_BR/LC_MESSAGES/app.mo")
        out.append((places, data))
    for lang, data in plugin_text.items():  # the plug-ins share one catalogue
        out.append((["%s/locale/%s.mo" % (p, lang) for p in PLUGINS], data))
    return [(places[0], places[1:], data) for places, data in out]


def write(folder, relative, data):
    path = os.path.join(folder, relative)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


def one_file(r, lines, chunks, folder, megabytes):
    """One file of the three kinds in 64 KB blocks."""
    size = megabytes * 1024 * 1024
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, "data.pak"), "wb") as f:
        for _ in range(size // 65536):
            kind = r.random()
            if kind < 0.45:
                f.write(text_file(r, lines, 65536))
            elif kind < 0.85:
                f.write(binary_file(r, chunks, 65536))
            else:
                f.write(r.randbytes(65536))
    print("corpus: 1 file, %d MB in %s" % (megabytes, folder))


def main():
    a = argparse.ArgumentParser()
    a.add_argument("folder")
    a.add_argument("--files", type=int, default=2000)
    a.add_argument("--megabytes", type=int, default=155)
    a.add_argument("--one-file", type=int, metavar="M", help="one file of M MB instead of a tree")
    args = a.parse_args()
    r = random.Random(20261207)
    lines, chunks = text_pool(r), binary_pool(r)
    if args.one_file:
        one_file(r, lines, chunks, args.folder, args.one_file)
        return
    written = count = copies = 0
    dups = duplicates(r, lines, chunks)
    for first, more, data in dups:
        for relative in [first] + more:
            write(args.folder, relative, data)
            written += len(data)
            count += 1
        copies += len(more)
    total = args.megabytes * 1024 * 1024
    kinds = [("text", 0.45, 0.25), ("binary", 0.40, 0.45), ("random", 0.15, 0.30)]
    files = args.files - count
    for kind, share_files, share_bytes in kinds:
        n = int(files * share_files) if kind != "random" else args.files - count
        for i, size in enumerate(sizes(r, n, total * share_bytes)):
            folder = r.choice(FOLDERS)
            ext = {"text": ".txt", "binary": ".dll", "random": ".dat"}[kind]
            if kind == "text":
                out = text_file(r, lines, size)
            elif kind == "binary":
                out = binary_file(r, chunks, size)
            else:
                out = r.randbytes(size)
            write(args.folder, os.path.join(folder, "%s%04d%s" % (kind, i, ext)), out)
            written += size
            count += 1
    print("corpus: %d files (%d copies of others), %.1f MB in %s" %
          (count, copies, written / 1048576, args.folder))


if __name__ == "__main__":
    main()
