#!/usr/bin/env python3
"""Where the time of an installation of many files goes: counts, per file,
the Wine server requests (WINEDEBUG=+server: each is a round trip to the
server process) and the Linux system calls (strace -f -c) of the setup
program, the minimal program and an NSIS installer, each installing N and
then 2N small files into a fresh folder. The difference of the two runs,
divided by N, is what one more file costs; start-up cancels out.

  count_calls.py --setrunc PATH --stub SETRUN.EXE --minimal MINIMAL.EXE
                 [--makensis PATH] [--files N] [--prefix FOLDER]

Counts, not times: they do not depend on the load of the machine."""

import argparse
import collections
import os
import re
import shutil
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import bench_install as bench  # noqa: E402

REQUEST = re.compile(r"^[0-9a-f]+: (\w+)\( ")
STRACE_ROW = re.compile(r"^\s*[\d.]+\s+[\d.]+\s+\d+\s+(\d+)\s+(?:\d+\s+)?(\w+)\s*$")
def make_corpus(folder, n):
    """n text files of 2 KB in four nested folders."""
    shutil.rmtree(folder, ignore_errors=True)
    for i in range(n):
        sub = ("bin", "bin/plugins", "doc/api", "res")[i % 4]
        os.makedirs(os.path.join(folder, sub), exist_ok=True)
        with open(os.path.join(folder, sub, "file%05d.txt" % i), "wb") as f:
            f.write((("line %d of file %d, some words to compress\n" % (0, i)) * 48)[:2048].encode())


def counted(cmd, wine, log):
    """Runs cmd under strace; returns (server requests, system calls). The
    requests are those the server logged while cmd ran."""
    trace = log + ".strace"
    start = os.path.getsize(wine.server_log)
    with open(log + ".err", "wb") as err:
        rc = subprocess.run(["strace", "-f", "-c", "-o", trace] + cmd, env=wine.env,
                            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=err).returncode
    if rc:
        raise SystemExit("count: %s ended with %d (see %s)" % (cmd, rc, log + ".err"))
    requests = collections.Counter()
    with open(wine.server_log, "rb") as f:
        f.seek(start)
        for raw in f:
            m = REQUEST.match(raw.decode("latin-1"))
            if m:
                requests[m.group(1)] += 1
    calls = collections.Counter()
    with open(trace) as f:
        for line in f:
            m = STRACE_ROW.match(line)
            if m:
                calls[m.group(2)] += int(m.group(1))
    return requests, calls


def main():
    a = argparse.ArgumentParser()
    a.add_argument("--setrunc", required=True)
    a.add_argument("--stub", required=True)
    a.add_argument("--minimal", required=True)
    a.add_argument("--makensis", default=shutil.which("makensis"))
    a.add_argument("--files", type=int, default=200)
    a.add_argument("--prefix", default=os.path.join(os.environ.get("TMPDIR", "/tmp"),
                                                    "setrun-count-bench-%d" % os.getuid()))
    args = a.parse_args()
    wine = bench.WinePrefix(args.prefix, server_log=args.prefix + "-server.log")
    wine.server_log = args.prefix + "-server.log"
    try:
        return run(args, wine)
    finally:
        wine.stop()


def run(args, wine):
    work = os.path.join(args.prefix, "drive_c", "count")
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    shutil.copy(args.minimal, os.path.join(work, "minimal_inflate.exe"))
    results = {}
    sizes = (args.files, 2 * args.files)
    for n in sizes:
        corpus = os.path.join(work, "corpus%d" % n)
        make_corpus(corpus, n)
        bench.build_setup(args.setrunc, args.stub, work, "corpus%d" % n, "setup%d.exe" % n,
                          "C:\\count\\inst", 9)
        bench.write_streams(args.setrunc, os.path.join(work, "setup%d.exe" % n),
                            os.path.join(work, "streams%d.txt" % n))
        tools = {
            "setup": (["/usr/lib/wine/wine64", "C:\\count\\setup%d.exe" % n], "inst"),
            "minimal": (["/usr/lib/wine/wine64", "C:\\count\\minimal_inflate.exe",
                         "C:\\count\\setup%d.exe" % n, "C:\\count\\streams%d.txt" % n,
                         "C:\\count\\min"], "min"),
        }
        if args.makensis:
            bench.build_nsis(args.makensis, work, "corpus%d" % n, "nsis%d.exe" % n)
            tools["nsis"] = (["/usr/lib/wine/wine", "C:\\count\\nsis%d.exe" % n, "/S",
                              "/D=C:\\count\\nsis"], "nsis")
        for name, (cmd, folder) in tools.items():
            tree = os.path.join(work, folder)
            # The first run of a tool also starts what Wine starts once (its
            # window station, desktop and registry caches): not counted.
            for counting in ([False, True] if n == sizes[0] else [True]):
                shutil.rmtree(tree, ignore_errors=True)
                if name == "minimal":
                    os.makedirs(tree)
                results[name, n] = counted(cmd, wine, os.path.join(work, "%s%d" % (name, n)))
            bench.same_tree(corpus, os.path.join(tree, "app"))
            shutil.rmtree(tree, ignore_errors=True)
    names = [t for t in ("setup", "minimal", "nsis") if (t, sizes[0]) in results]

    def per_file(name, kind, key):
        a, b = results[name, sizes[0]][kind], results[name, sizes[1]][kind]
        return (b[key] - a[key]) / args.files

    print()
    print("per file: (count with %d files - count with %d files) / %d; files of 2 KB in 4 folders"
          % (sizes[1], sizes[0], args.files))
    print()
    print("%-28s" % "Wine server requests" + "".join("%10s" % n for n in names))
    keys = sorted({k for n in names for s in sizes for k in results[n, s][0]},
                  key=lambda k: -max(abs(per_file(n, 0, k)) for n in names))
    total = {n: 0.0 for n in names}
    for k in keys:
        row = [per_file(n, 0, k) for n in names]
        for n, v in zip(names, row):
            total[n] += v
        if max(abs(v) for v in row) >= 0.05:
            print("  %-26s" % k + "".join("%10.2f" % v for v in row))
    print("  %-26s" % "all requests" + "".join("%10.2f" % total[n] for n in names))
    print()
    print("%-28s" % "Linux system calls" + "".join("%10s" % n for n in names))
    allkeys = {k for n in names for s in sizes for k in results[n, s][1]}
    other = {n: 0.0 for n in names}
    total = {n: 0.0 for n in names}
    for k in sorted(allkeys):
        for n in names:
            v = per_file(n, 1, k)
            total[n] += v
            if max(abs(per_file(m, 1, k)) for m in names) < 0.5:
                other[n] += v
    for k in sorted(allkeys, key=lambda k: -max(abs(per_file(n, 1, k)) for n in names)):
        row = [per_file(n, 1, k) for n in names]
        if max(abs(v) for v in row) >= 0.5:
            print("  %-26s" % k + "".join("%10.2f" % v for v in row))
    print("  %-26s" % "other" + "".join("%10.2f" % other[n] for n in names))
    print("  %-26s" % "all system calls" + "".join("%10.2f" % total[n] for n in names))
    print("command: " + os.environ.get("SETRUN_BENCH_COMMAND", " ".join(sys.argv)))
    return 0


if __name__ == "__main__":
    sys.exit(main())
