#!/usr/bin/env python3
"""Installation benchmark (not a test): builds the corpus of make_corpus.py
into an installer and times, in the same run and against baselines measured
in the same run:

- the builder: `setrunc build` (compression 9, one thread and the default
  threads) against `zip -9 -r` of the same folder: time and output size;
- the installation: the silent installation by the setup program under Wine
  against minimal_inflate.exe, which only inflates the same streams from the
  same installer and writes the same files; with --stub-before, also the
  same installation by another setup program (an earlier build), in the
  same rounds.

  bench_install.py --setrunc PATH --stub SETRUN.EXE --minimal MINIMAL_INFLATE.EXE
                   [--stub-before SETRUN.EXE] [--prefix FOLDER] [--rounds N]
                   [--files N] [--megabytes M]

Times are medians over the rounds: wall-clock time, and the CPU time (user +
system) of the process and its children, which stays comparable on a machine
busy with other work; for the installation it includes the Wine server's
CPU time during the run. Wine's start-up is inside both installation
figures."""

import argparse
import filecmp
import os
import re
import resource
import shutil
import statistics
import struct
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.abspath(os.path.join(HERE, "..", ".."))
RUNNER = os.path.join(ROOT, "tests", "wine", "run-in-wine.sh")


def children_cpu():
    u = resource.getrusage(resource.RUSAGE_CHILDREN)
    return u.ru_utime + u.ru_stime


def timed(cmd, env=None, cwd=None, log=None):
    """(wall seconds, CPU seconds, exit code) of one command."""
    out = open(log, "ab") if log else subprocess.DEVNULL
    cpu0, t0 = children_cpu(), time.monotonic()
    rc = subprocess.run(cmd, env=env, cwd=cwd, stdin=subprocess.DEVNULL, stdout=out,
                        stderr=subprocess.STDOUT).returncode
    wall, cpu = time.monotonic() - t0, children_cpu() - cpu0
    if log:
        out.close()
    return wall, cpu, rc


def same_tree(a, b):
    """Every file below a exists below b with the same bytes, and b has no more."""
    count = 0
    for folder, _, names in os.walk(a):
        rel = os.path.relpath(folder, a)
        for n in names:
            other = os.path.join(b, rel, n)
            if not os.path.isfile(other) or not filecmp.cmp(os.path.join(folder, n), other, False):
                raise SystemExit("benchmark: %s differs after installation" % os.path.join(rel, n))
            count += 1
    total = sum(len(n) for _, _, n in os.walk(b))
    if total != count:
        raise SystemExit("benchmark: %d files installed, %d expected" % (total, count))
    return count


def main():
    a = argparse.ArgumentParser()
    a.add_argument("--setrunc", required=True)
    a.add_argument("--stub", required=True)
    a.add_argument("--minimal", required=True)
    a.add_argument("--stub-before", help="another setup program to time beside --stub")
    a.add_argument("--prefix", default=os.path.join(os.environ.get("TMPDIR", "/tmp"),
                                                    "setrun-install-bench-%d" % os.getuid()))
    a.add_argument("--rounds", type=int, default=5, help="installation rounds")
    a.add_argument("--build-rounds", type=int, default=3)
    a.add_argument("--files", type=int, default=2000)
    a.add_argument("--megabytes", type=int, default=150)
    args = a.parse_args()

    env = dict(os.environ, SETRUN_WINEPREFIX=args.prefix, HOME=args.prefix + "-home")
    os.makedirs(env["HOME"], exist_ok=True)
    wine_env = dict(env, WINEPREFIX=args.prefix, WINEDEBUG="-all")
    log = args.prefix + "-bench.log"
    if os.path.exists(log):
        os.remove(log)
    # The prefix exists and its server stays up for the whole run, so that no
    # round pays for starting it.
    timed(["sh", RUNNER, "cmd", "/c", "exit"], env=env, log=log)
    subprocess.run(["/usr/lib/wine/wineserver", "-w"], env=wine_env)
    server = subprocess.Popen(["/usr/lib/wine/wineserver", "-p", "-f"], env=wine_env,
                              stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL)
    try:
        return run(args, env, log, server.pid)
    finally:
        subprocess.run(["/usr/lib/wine/wineserver", "-k"], env=wine_env,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        server.wait(30)


def server_cpu(pid):
    """CPU seconds the Wine server has used so far: the file operations of a
    Windows program are partly its work."""
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


LOAD = open("/proc/loadavg").read().split()[0]


def run(args, env, log, server):
    work = os.path.join(args.prefix, "drive_c", "bench")
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    corpus = os.path.join(work, "corpus")
    subprocess.run([sys.executable, os.path.join(HERE, "make_corpus.py"), corpus,
                    "--files", str(args.files), "--megabytes", str(args.megabytes)], check=True)
    corpus_bytes = sum(os.path.getsize(os.path.join(f, n))
                       for f, _, ns in os.walk(corpus) for n in ns)
    with open(os.path.join(work, "project.toml"), "w") as f:
        f.write('title = "Benchmark"\nstub = "x64"\ncompression = 9\n\n'
                '[layout]\nflags = ["silent"]\n\n[[group]]\n'
                'folder = "C:\\\\bench\\\\inst"\nflags = []\n\n'
                '[[group.file]]\nsource = "corpus"\nname = "app"\n')

    # The builder against zip -9.
    setup = os.path.join(work, "setup.exe")
    build = {}
    for jobs in ("1", str(os.cpu_count() or 1)):
        results = []
        for _ in range(args.build_rounds):
            w, c, rc = timed([args.setrunc, "build", "project.toml", "-o", "setup.exe",
                              "--stub", args.stub, "-q", "-j", jobs], cwd=work, log=log)
            if rc:
                raise SystemExit("benchmark: setrunc build failed (see %s)" % log)
            results.append((w, c))
        build[jobs] = results
    zips = []
    for _ in range(args.build_rounds):
        z = os.path.join(work, "corpus.zip")
        if os.path.exists(z):
            os.remove(z)
        w, c, rc = timed(["zip", "-9", "-r", "-q", z, "."], cwd=corpus, log=log)
        if rc:
            raise SystemExit("benchmark: zip failed")
        zips.append((w, c))
    if args.stub_before:
        if timed([args.setrunc, "build", "project.toml", "-o", "setup-before.exe",
                  "--stub", args.stub_before, "-q"], cwd=work, log=log)[2]:
            raise SystemExit("benchmark: setrunc build with --stub-before failed (see %s)" % log)
    setup_size = os.path.getsize(setup)
    stub_size = os.path.getsize(args.stub)
    zip_size = os.path.getsize(os.path.join(work, "corpus.zip"))

    # The streams, for the minimal program: file offset, packed size, size, name.
    text = subprocess.run([args.setrunc, "inspect", setup], stdout=subprocess.PIPE,
                          check=True).stdout.decode("utf-8", "replace")
    m = re.search(r"data area: L0 = (\d+) bytes at offset (\d+)", text)
    raw = open(setup, "rb").read()
    length, at = int(m.group(1)), int(m.group(2))
    area = at + 4 if raw[at:at + 4] == struct.pack("<I", length) else at
    streams = re.findall(r'^\s+\[\d+\] "((?:[^"\\]|\\.)*)".*\n\s+size (\d+), packed (\d+) at (\d+)',
                         text, re.M)
    with open(os.path.join(work, "streams.txt"), "w") as f:
        for name, size, packed, offset in streams:
            f.write("%d %s %s %s\n" % (area + int(offset), packed, size,
                                        name.replace("\\\\", "\\")))
    del raw

    # The installation against the minimal program, alternating.
    inst, mini = os.path.join(work, "inst"), os.path.join(work, "min")
    minimal = os.path.join(work, "minimal_inflate.exe")
    shutil.copy(args.minimal, minimal)
    kinds = ["setup", "minimal"] + (["before"] if args.stub_before else [])
    times = {k: [] for k in kinds}
    last = {}
    old = os.path.join(work, "old")
    os.makedirs(old)
    for r in range(args.rounds):
        order = kinds[r % len(kinds):] + kinds[:r % len(kinds)]
        for which in order:
            # The tree of the run before is moved aside, not deleted: ext4
            # passes over inodes freed in the last half minute when it
            # allocates new ones, which made every file creation after a
            # deletion slower by an amount that varied from run to run. An
            # installation onto a real machine starts without that.
            tree = mini if which == "minimal" else inst
            if os.path.exists(tree):
                aside = os.path.join(old, "%s%d" % (which, r))
                os.rename(tree, aside)
                for k, v in last.items():
                    if v == tree:
                        last[k] = aside
            subprocess.run(["sync"])
            if which != "minimal":
                name = "setup.exe" if which == "setup" else "setup-before.exe"
                cmd = ["sh", RUNNER, "C:\\bench\\" + name]
            else:
                os.makedirs(mini)
                cmd = ["sh", RUNNER, "C:\\bench\\minimal_inflate.exe", "C:\\bench\\setup.exe",
                       "C:\\bench\\streams.txt", "C:\\bench\\min"]
            s0 = server_cpu(server)
            w, c, rc = timed(cmd, env=env, log=log)
            c += server_cpu(server) - s0
            if rc:
                raise SystemExit("benchmark: %s ended with %d (see %s)" % (which, rc, log))
            times[which].append((w, c))
            last[which] = tree
    files = same_tree(corpus, os.path.join(last["setup"], "app"))
    for k in kinds[1:]:
        same_tree(corpus, os.path.join(last[k], "app"))
    shutil.rmtree(old, ignore_errors=True)

    def med(rs, i):
        return statistics.median(x[i] for x in rs)

    jobs = str(os.cpu_count() or 1)
    print()
    print("corpus: %d files, %.1f MB; medians of %d build and %d installation rounds; "
          "load average before: %s" % (files, corpus_bytes / 1048576, args.build_rounds,
                                       args.rounds, LOAD))
    print()
    print("%-34s %9s %9s %12s" % ("build", "wall s", "CPU s", "output MB"))
    print("%-34s %9.2f %9.2f %12.2f" % ("zip -9 -r", med(zips, 0), med(zips, 1), zip_size / 1048576))
    for j in ("1", jobs):
        print("%-34s %9.2f %9.2f %12.2f" % ("setrunc build -j " + j, med(build[j], 0),
                                             med(build[j], 1), setup_size / 1048576))
    print("%-34s %9.2f %9.2f %12.2f" % ("  ratio -j 1 / zip", med(build["1"], 0) / med(zips, 0),
                                         med(build["1"], 1) / med(zips, 1), setup_size / zip_size))
    print("%-34s %9.2f %9.2f %12.2f" % ("  ratio -j %s / zip" % jobs,
                                         med(build[jobs], 0) / med(zips, 0),
                                         med(build[jobs], 1) / med(zips, 1),
                                         (setup_size - stub_size) / zip_size))
    print("  (the last size ratio leaves out the %d-byte setup program)" % stub_size)
    print()
    print("%-34s %9s %9s" % ("install under Wine", "wall s", "CPU s*"))
    print("%-34s %9.2f %9.2f" % ("minimal_inflate.exe", med(times["minimal"], 0),
                                  med(times["minimal"], 1)))
    print("%-34s %9.2f %9.2f" % ("setup.exe (silent)", med(times["setup"], 0),
                                  med(times["setup"], 1)))
    print("%-34s %9.2f %9.2f   (goal <= 1.25)" % (
        "  ratio setup / minimal", med(times["setup"], 0) / med(times["minimal"], 0),
        med(times["setup"], 1) / med(times["minimal"], 1)))
    if args.stub_before:
        print("%-34s %9.2f %9.2f" % ("setup-before.exe (silent)", med(times["before"], 0),
                                      med(times["before"], 1)))
        print("%-34s %9.2f %9.2f" % (
            "  ratio before / minimal", med(times["before"], 0) / med(times["minimal"], 0),
            med(times["before"], 1) / med(times["minimal"], 1)))
        print("%-34s %9.2f %9.2f" % (
            "  ratio setup / before", med(times["setup"], 0) / med(times["before"], 0),
            med(times["setup"], 1) / med(times["before"], 1)))
        print("  (before: %s, %d bytes)" % (args.stub_before, os.path.getsize(args.stub_before)))
    print("  * the program's and the Wine server's CPU time during the run")
    for which in kinds:
        print("  %-7s rounds, wall s: %s" % (which, " ".join("%.2f" % x[0] for x in times[which])))
    print("command: " + os.environ.get("SETRUN_BENCH_COMMAND", " ".join(sys.argv)))
    return 0


if __name__ == "__main__":
    sys.exit(main())
