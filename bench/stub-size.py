#!/usr/bin/env python3
"""Where the bytes of the setup program go, per object file, from the
linker's map (not a test: it prints figures).

  bench/stub-size.py [--markdown] [BUILD ...]

BUILD is a build folder holding setrun.exe and setrun.map (default
build/win32 and build/win64 of this tree; the folder names win32 and win64
label the columns 32-bit and 64-bit). For each input section the map names the
object it came from; the bytes are added up per object and per kind of
output section: code (.text), read-only data (.rdata), data (.data) and
unwind tables (.eh_frame, .pdata, .xdata). A second table adds them up per
part of the program, with the import tables (.idata and the jumps to
imported functions), resources and base relocations; what is left of the
file is headers and alignment padding. Memory that takes no file bytes
(.bss, .tls) is left out."""

import argparse
import os
import re
import struct
import sys

ROOT = os.path.abspath(os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
KINDS = ["code", "rdata", "data", "unwind", "other"]
# The kind of bytes, by the name of the input section (the program's own
# layout, cmake/stub-sections.ld, puts read-only data into .text and the
# initialised data beside the import tables).
INPUT_KIND = [(".text", "code"), (".rdata", "rdata"), (".data", "data"), (".eh_fram", "unwind"),
              (".pdata", "unwind"), (".xdata", "unwind")]
NO_FILE_BYTES = {".bss", ".tls"}
RELOCATIONS = "base relocations (.reloc)"
SECTION_LINE = re.compile(r"^(\.[\w.$]+)\s+0x([0-9a-f]+)\s+0x([0-9a-f]+)")
INPUT_LINE = re.compile(r"^ (\S+)\s+0x([0-9a-f]+)\s+0x([0-9a-f]+)\s+(\S.*)$")
CONTINUED = re.compile(r"^\s+0x([0-9a-f]+)\s+0x([0-9a-f]+)\s+(\S.*)$")


def source_paths():
    """Base name of each source file of the program -> its path in the tree,
    so that members of the program's own libraries read as paths."""
    paths = {}
    for top in ("base", "startup", "package", "paths", "engine", "integration", "wizard", "backdrop",
                "third_party"):
        for folder, _, names in os.walk(os.path.join(ROOT, top)):
            for n in names:
                if n.endswith((".cpp", ".c", ".rc")):
                    paths.setdefault(n, os.path.relpath(os.path.join(folder, n), ROOT))
    return paths


def object_name(origin, paths):
    """A short name for the object an input section came from."""
    m = re.match(r"^(.*?)([^/]+)\((.+)\)$", origin)
    if m:
        archive, member = m.group(2), m.group(3)
        if archive.startswith("libsetrun"):
            base = re.sub(r"\.obj$", "", member)
            return paths.get(base, base)
        if archive.startswith(("libmsvcrt", "libkernel32", "libuser32", "libgdi32",
                               "libadvapi32", "libshell32", "libole32", "libcomdlg32")):
            return "imports: " + archive[3:-2] + ".dll"
        return "%s(%s)" % (archive, member)
    if origin == "dll stuff":
        return RELOCATIONS
    m = re.search(r"CMakeFiles/[^/]+\.dir/(.+?)(\.obj|\.res)?$", origin)
    if m:
        return m.group(1)
    return os.path.basename(origin)


def read_map(path, paths):
    """{object: {kind: bytes}} from the memory map part of an ld map file."""
    sizes = {}
    output = None
    pending = None
    in_map = False
    with open(path, errors="replace") as f:
        for line in f:
            line = line.rstrip("\n")
            if not in_map:
                in_map = line.startswith("Linker script and memory map")
                continue
            m = SECTION_LINE.match(line)
            if m:
                output = m.group(1)
                pending = None
                continue
            if line.startswith(".") and " " not in line.strip():
                output, pending = line.strip(), None
                continue
            m = INPUT_LINE.match(line)
            origin = size = section = None
            if m and not m.group(1).startswith("*"):
                size, origin, section = int(m.group(3), 16), m.group(4), m.group(1)
                pending = None
            elif re.match(r"^ \.\S+$", line):
                pending = line.strip()
                continue
            elif pending:
                m = CONTINUED.match(line)
                if m:
                    size, origin, section = int(m.group(2), 16), m.group(3), pending
                pending = None
            if origin is None or size == 0 or output in NO_FILE_BYTES or output is None:
                continue
            if section.startswith(tuple(NO_FILE_BYTES)) or section == "COMMON":
                continue
            if origin.startswith(("LONG ", "BYTE ", "SHORT ", "QUAD ")):
                continue
            kind = next((k for prefix, k in INPUT_KIND if section.startswith(prefix)), "other")
            name = object_name(origin, paths)
            if section.startswith(".idata") or name.startswith("imports: "):
                kind = "other"
            entry = sizes.setdefault(name, dict.fromkeys(KINDS, 0))
            entry[kind] += size
    return sizes


def pe_sections(path):
    """(file size, header bytes, {section: raw size}) of a PE file."""
    data = open(path, "rb").read()
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    count = struct.unpack_from("<H", data, pe + 6)[0]
    optional = struct.unpack_from("<H", data, pe + 20)[0]
    table = pe + 24 + optional
    headers = struct.unpack_from("<I", data, pe + 24 + 60)[0]
    raw = {}
    for i in range(count):
        name, _, _, size = struct.unpack_from("<8sIII", data, table + 40 * i)
        raw[name.rstrip(b"\0").decode()] = size
    return len(data), headers, raw


def group_of(name):
    if name.startswith(("third_party/zlib/", "libz.a(")):
        return "zlib (inflate side)"
    if name.startswith("imports: "):
        return "import tables"
    if name == "startup/resources.rc":
        return "resources (.rsrc)"
    if name == RELOCATIONS:
        return RELOCATIONS
    if "(" in name:
        return "compiler and C runtime libraries"
    return name.split("/")[0] + "/" if "/" in name else name


def label_of(folder):
    base = os.path.basename(folder.rstrip("/"))
    return {"win32": "32-bit", "win64": "64-bit"}.get(base, base)


def main():
    a = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    a.add_argument("builds", nargs="*", default=["build/win32", "build/win64"])
    a.add_argument("--markdown", action="store_true", help="Markdown tables")
    args = a.parse_args()
    paths = source_paths()
    builds = []
    for b in args.builds:
        folder = os.path.abspath(b if os.path.isdir(b) else os.path.join(ROOT, b))
        maps = read_map(os.path.join(folder, "setrun.map"), paths)
        builds.append((label_of(folder), maps, pe_sections(os.path.join(folder, "setrun.exe"))))
    md = args.markdown

    def row(cells, first=44):
        if md:
            print("| " + " | ".join(cells) + " |")
        else:
            print(("%-" + str(first) + "s") % cells[0] + "".join("%8s" % c for c in cells[1:]))

    def rule(columns):
        if md:
            print("|---|" + "---:|" * columns)

    def total(entry):
        return sum(entry.values())

    # Per object, largest first (in the first build).
    names = sorted({n for _, m, _ in builds for n in m},
                   key=lambda n: (-total(builds[0][1].get(n, {"code": 0})), n))
    columns = ("code", "rdata", "data", "unwind", "total")
    if not md:
        print("%-44s" % "" + "".join("%-40s" % (" " * 8 + label) for label, _, _ in builds))
    row(["object"] + [(label + " " + c if md else c) for label, _, _ in builds for c in columns])
    rule(len(columns) * len(builds))
    for n in names:
        if group_of(n) in ("import tables", "resources (.rsrc)", RELOCATIONS):
            continue
        cells = [n]
        for _, m, _ in builds:
            e = m.get(n, dict.fromkeys(KINDS, 0))
            cells += [str(e["code"]), str(e["rdata"]), str(e["data"]), str(e["unwind"]),
                      str(total(e))]
        row(cells)

    # Per part of the program, and what the file holds besides.
    print()
    row(["part"] + [label for label, _, _ in builds])
    rule(len(builds))
    groups = []
    for n in names:
        if group_of(n) not in groups:
            groups.append(group_of(n))
    order = ["base/", "startup/", "package/", "paths/", "engine/", "integration/", "wizard/", "backdrop/",
             "zlib (inflate side)", "compiler and C runtime libraries", "import tables",
             "resources (.rsrc)", RELOCATIONS]
    groups.sort(key=lambda g: order.index(g) if g in order else len(order))
    for g in groups:
        row([g] + [str(sum(total(e) for n, e in m.items() if group_of(n) == g))
                   for _, m, _ in builds])
    row(["unwind tables (in the parts above)"] +
        [str(sum(e["unwind"] for e in m.values())) for _, m, _ in builds])
    row(["headers"] + [str(pe[1]) for _, _, pe in builds])
    row(["alignment padding (sections to 512 bytes)"] +
        [str(pe[0] - pe[1] - sum(total(e) for e in m.values())) for _, m, pe in builds])
    row(["file"] + [str(pe[0]) for _, _, pe in builds])

    print()
    row(["section (bytes in the file)"] + [label for label, _, _ in builds])
    rule(len(builds))
    sections = []
    for _, _, pe in builds:
        sections += [s for s in pe[2] if s not in sections]
    for s in sections:
        if any(pe[2].get(s, 0) for _, _, pe in builds):
            row([s] + [str(pe[2].get(s, 0)) for _, _, pe in builds])
    return 0


if __name__ == "__main__":
    sys.exit(main())
