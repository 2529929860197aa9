#!/usr/bin/env python3
"""Installation benchmark (not a test). Builds two corpora of make_corpus.py
(a product's tree of 2,000 files with nested folders and duplicate files,
and one file of 256 MB) into installers with setrunc and with a peer,
Debian's NSIS (makensis, `SetCompressor zlib`, not solid), and times in the
same run (a third corpus, "tiny", of one small file, shows what starting and
ending an installation costs):

- the builds: setrunc at compression levels 6, 9 and 12 and makensis:
  time and output size;
- the silent installations under Wine into a fresh folder: the setup
  program, the NSIS installer (`/S`), and minimal_inflate.exe, which only
  inflates the setup program's streams from its installer and writes the
  files; with --stub-before also another setup program (an earlier build).
  Within each round the tools take turns, in an order that rotates from
  round to round; every installed tree is compared byte for byte with the
  corpus.

  bench_install.py --setrunc PATH --stub SETRUN.EXE --minimal MINIMAL_INFLATE.EXE
                   [--makensis PATH] [--stub-before SETRUN.EXE] [--prefix FOLDER]
                   [--rounds N] [--build-rounds N] [--files N] [--megabytes M]
                   [--big-megabytes M] [--levels 6,9,12] [--corpora files,big,tiny]

Times are medians over the rounds: wall-clock time, and the CPU time (user +
system) of the process and its children plus the Wine server's CPU time
during the run, which stays comparable on a machine busy with other work.
Ratios are given both as the ratio of the medians and as the median of the
ratios of each round (the tools of one round ran under about the same load).
Wine's start-up is inside every installation figure."""

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


def load_average():
    return float(open("/proc/loadavg").read().split()[0])


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
                raise SystemExit("benchmark: %s differs after installation into %s" %
                                 (os.path.join(rel, n), b))
            count += 1
    total = sum(len(n) for _, _, n in os.walk(b))
    if total != count:
        raise SystemExit("benchmark: %d files installed into %s, %d expected" % (total, b, count))
    return count


class WinePrefix:
    """The benchmark's own prefix, with its server kept up for the whole run
    so that no installation pays for starting it."""

    def __init__(self, prefix, server_log=None):
        self.prefix = prefix
        self.env = dict(os.environ, SETRUN_WINEPREFIX=prefix, HOME=prefix + "-home",
                        WINEPREFIX=prefix, WINEARCH="win64",
                        WINEDLLOVERRIDES="mscoree,mshtml=;winedbg.exe=d", WINEDEBUG="-all")
        self.env.pop("DISPLAY", None)
        os.makedirs(self.env["HOME"], exist_ok=True)
        self.log = prefix + "-bench.log"
        if os.path.exists(self.log):
            os.remove(self.log)
        timed(["sh", RUNNER, "cmd", "/c", "exit"], env=self.env, log=self.log)
        subprocess.run(["/usr/lib/wine/wineserver", "-w"], env=self.env)
        # With server_log, the server writes every request it answers there.
        self.server = subprocess.Popen(
            ["/usr/lib/wine/wineserver", "-p", "-f"] + (["-d1"] if server_log else []), env=self.env,
            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
            stderr=open(server_log, "wb") if server_log else subprocess.DEVNULL)
        # The 32-bit side of the prefix starts once, outside the rounds.
        timed(["/usr/lib/wine/wine", "cmd", "/c", "exit"], env=self.env, log=self.log)

    def server_cpu(self):
        """CPU seconds the Wine server has used so far: the file operations
        of a Windows program are partly its work."""
        with open("/proc/%d/stat" % self.server.pid) as f:
            fields = f.read().rsplit(")", 1)[1].split()
        return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")

    def stop(self):
        subprocess.run(["/usr/lib/wine/wineserver", "-k"], env=self.env,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.server.wait(30)


def build_setup(setrunc, stub, work, corpus, output, folder, level=None, jobs=None, log=None):
    """Builds corpus (a folder below work) into work/output, to be installed
    into folder\\app; (wall, CPU) of the build."""
    with open(os.path.join(work, output + ".toml"), "w") as f:
        f.write('title = "Benchmark"\nstub = "x64"\n%s\n'
                '[layout]\nflags = ["silent"]\n\n[[group]]\n'
                'folder = "%s"\nflags = []\n\n'
                '[[group.file]]\nsource = "%s"\nname = "app"\n'
                % ("compression = %d\n" % level if level is not None else "",
                   folder.replace("\\", "\\\\"), corpus))
    cmd = [setrunc, "build", output + ".toml", "-o", output, "--stub", stub, "-q"]
    if jobs:
        cmd += ["-j", str(jobs)]
    w, c, rc = timed(cmd, cwd=work, log=log)
    if rc:
        raise SystemExit("benchmark: setrunc build failed (see %s)" % log)
    return w, c


def build_nsis(makensis, work, corpus, output, log=None):
    """The same corpus as an NSIS installer at NSIS's zlib setting (not
    solid), installing into $INSTDIR\\app; (wall, CPU) of makensis."""
    script = os.path.join(work, output + ".nsi")
    with open(script, "w") as f:
        f.write('Unicode true\nSetCompressor zlib\nName "Benchmark"\nOutFile "%s"\n'
                'InstallDir "C:\\bench\\nsis"\nRequestExecutionLevel user\n'
                'Section\n  SetOutPath "$INSTDIR\\app"\n  File /r "%s/*"\nSectionEnd\n'
                % (output, corpus))
    w, c, rc = timed([makensis, "-V2", script], cwd=work, log=log)
    if rc:
        raise SystemExit("benchmark: makensis failed (see %s)" % log)
    return w, c


def write_streams(setrunc, setup, path):
    """The list of streams for the minimal program: file offset, packed
    size, size, name. Returns the inspect text."""
    text = subprocess.run([setrunc, "inspect", setup], stdout=subprocess.PIPE,
                          check=True).stdout.decode("utf-8", "replace")
    m = re.search(r"data area: L0 = (\d+) bytes at offset (\d+)", text)
    with open(setup, "rb") as f:
        length, at = int(m.group(1)), int(m.group(2))
        f.seek(at)
        area = at + 4 if f.read(4) == struct.pack("<I", length) else at
    streams = re.findall(r'^\s+\[\d+\] "((?:[^"\\]|\\.)*)".*\n\s+size (\d+), packed (\d+) at (\d+)',
                         text, re.M)
    with open(path, "w") as f:
        for name, size, packed, offset in streams:
            f.write("%d %s %s %s\n" % (area + int(offset), packed, size, name.replace("\\\\", "\\")))
    return text


def med(rs, i):
    return statistics.median(x[i] for x in rs)


def main():
    a = argparse.ArgumentParser()
    a.add_argument("--setrunc", required=True)
    a.add_argument("--stub", required=True)
    a.add_argument("--minimal", required=True)
    a.add_argument("--makensis", default=shutil.which("makensis"))
    a.add_argument("--stub-before", help="another setup program to time beside --stub")
    a.add_argument("--prefix", default=os.path.join(os.environ.get("TMPDIR", "/tmp"),
                                                    "setrun-install-bench-%d" % os.getuid()))
    a.add_argument("--rounds", type=int, default=7, help="installation rounds per corpus")
    a.add_argument("--build-rounds", type=int, default=1)
    a.add_argument("--files", type=int, default=2000)
    a.add_argument("--megabytes", type=int, default=155)
    a.add_argument("--big-megabytes", type=int, default=256)
    a.add_argument("--levels", default="6,9,12")
    a.add_argument("--corpora", default="files,big")
    args = a.parse_args()
    if not args.makensis:
        raise SystemExit("benchmark: makensis is missing (apt-get install nsis)")
    wine = WinePrefix(args.prefix)
    try:
        return run(args, wine)
    finally:
        wine.stop()


def run(args, wine):
    load_start = load_average()
    log = wine.log
    work = os.path.join(args.prefix, "drive_c", "bench")
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    shutil.copy(args.minimal, os.path.join(work, "minimal_inflate.exe"))
    corpora = args.corpora.split(",")
    levels = [int(x) for x in args.levels.split(",") if x]
    jobs = os.cpu_count() or 1
    report = []

    def out(line=""):
        report.append(line)
        print(line, flush=True)

    for corpus in corpora:
        if corpus == "tiny":  # one small file: what starting and ending a run costs
            os.makedirs(os.path.join(work, corpus))
            with open(os.path.join(work, corpus, "readme.txt"), "wb") as f:
                f.write(b"A file of a few bytes.\r\n" * 24)
            continue
        make = [sys.executable, os.path.join(HERE, "make_corpus.py"), os.path.join(work, corpus)]
        make += (["--files", str(args.files), "--megabytes", str(args.megabytes)] if corpus == "files"
                 else ["--one-file", str(args.big_megabytes)])
        subprocess.run(make, check=True, stdout=subprocess.DEVNULL)

    for corpus in corpora:
        source = os.path.join(work, corpus)
        files = sum(len(n) for _, _, n in os.walk(source))
        size = sum(os.path.getsize(os.path.join(f, n)) for f, _, ns in os.walk(source) for n in ns)
        out()
        out("corpus %s: %d files, %.1f MB" % (corpus, files, size / 1048576))

        # Builds.
        builds = {}
        if corpus == "files":
            for level in levels:
                builds["setrunc level %d -j %d" % (level, jobs)] = [
                    build_setup(args.setrunc, args.stub, work, corpus, "level%d.exe" % level,
                                "C:\\bench\\inst", level, jobs, log) for _ in range(args.build_rounds)]
        builds["setrunc (default level) -j %d" % jobs] = [
            build_setup(args.setrunc, args.stub, work, corpus, "setup.exe", "C:\\bench\\inst",
                        None, jobs, log) for _ in range(args.build_rounds)]
        builds["setrunc (default level) -j 1"] = [
            build_setup(args.setrunc, args.stub, work, corpus, "setup.exe", "C:\\bench\\inst",
                        None, 1, log) for _ in range(args.build_rounds)]
        builds["makensis (zlib)"] = [build_nsis(args.makensis, work, corpus, "nsis.exe", log)
                                     for _ in range(args.build_rounds)]
        if args.stub_before:
            build_setup(args.setrunc, args.stub_before, work, corpus, "before.exe",
                        "C:\\bench\\inst", None, jobs, log)
        inspect = write_streams(args.setrunc, os.path.join(work, "setup.exe"),
                                os.path.join(work, "streams.txt"))
        nsis_size = os.path.getsize(os.path.join(work, "nsis.exe"))
        outputs = {k: os.path.join(work, "nsis.exe" if k.startswith("makensis") else
                                   "level%s.exe" % k.split()[2] if "level " in k else "setup.exe")
                   for k in builds}
        nsis_build = med(builds["makensis (zlib)"], 1)
        out()
        out("%-34s %8s %8s %12s %9s %9s" % ("build", "wall s", "CPU s", "output MB",
                                            "size/nsis", "CPU/nsis"))
        for k, rs in builds.items():
            s = os.path.getsize(outputs[k])
            out("%-34s %8.2f %8.2f %12.3f %9.4f %9.2f" % (k, med(rs, 0), med(rs, 1), s / 1048576,
                                                         s / nsis_size, med(rs, 1) / nsis_build))
        m = re.search(r"Identical files: (\d+) of (\d+) entries.*?; (\d+) bytes stored once", inspect)
        out("  setrunc stores identical files once: %s" %
            ("%s of %s entries, %.2f MB saved" % (m.group(1), m.group(2), int(m.group(3)) / 1048576)
             if m else "none in this corpus"))

        # Installations.
        tools = ["setup", "nsis", "minimal"] + (["before"] if args.stub_before else [])
        commands = {
            "setup": ["sh", RUNNER, "C:\\bench\\setup.exe"],
            "before": ["sh", RUNNER, "C:\\bench\\before.exe"],
            "nsis": ["/usr/lib/wine/wine", "C:\\bench\\nsis.exe", "/S", "/D=C:\\bench\\nsis"],
            "minimal": ["sh", RUNNER, "C:\\bench\\minimal_inflate.exe", "C:\\bench\\setup.exe",
                        "C:\\bench\\streams.txt", "C:\\bench\\min"],
        }
        trees = {"setup": "inst", "before": "inst", "nsis": "nsis", "minimal": "min"}
        times = {k: [] for k in tools}
        loads = []
        old = os.path.join(work, "old")
        os.makedirs(old, exist_ok=True)
        for r in range(args.rounds):
            order = tools[r % len(tools):] + tools[:r % len(tools)]
            loads.append(load_average())
            for which in order:
                tree = os.path.join(work, trees[which])
                if os.path.exists(tree):
                    # A tree of many files is moved aside, not deleted: ext4
                    # passes over inodes freed in the last half minute when
                    # it allocates new ones, which made every file creation
                    # after a deletion slower by an amount that varied from
                    # run to run. An installation onto a real machine starts
                    # without that.
                    if corpus == "files":
                        os.rename(tree, os.path.join(old, "%s%d" % (which, r)))
                    else:
                        shutil.rmtree(tree)
                if which == "minimal":
                    os.makedirs(tree)
                subprocess.run(["sync"])
                s0 = wine.server_cpu()
                w, c, rc = timed(commands[which], env=wine.env, log=log)
                c += wine.server_cpu() - s0
                if rc:
                    raise SystemExit("benchmark: %s ended with %d (see %s)" % (which, rc, log))
                times[which].append((w, c))
                same_tree(source, os.path.join(tree, "app"))
        loads.append(load_average())
        shutil.rmtree(old, ignore_errors=True)
        for t in set(trees.values()):
            shutil.rmtree(os.path.join(work, t), ignore_errors=True)

        out()
        out("install under Wine (%d rounds)            wall s    CPU s*" % args.rounds)
        labels = {"setup": "setup.exe (silent)", "nsis": "NSIS installer /S",
                  "minimal": "minimal_inflate.exe", "before": "before.exe (silent)"}
        for k in tools:
            out("%-38s %9.2f %9.2f" % (labels[k], med(times[k], 0), med(times[k], 1)))

        def ratio(a, b, goal=""):
            per = [[x[i] / y[i] for x, y in zip(times[a], times[b])] for i in (0, 1)]
            out("%-38s %9.2f %9.2f   median of rounds %.2f %.2f%s" % (
                "  ratio %s / %s" % (a, b), med(times[a], 0) / med(times[b], 0),
                med(times[a], 1) / med(times[b], 1), statistics.median(per[0]),
                statistics.median(per[1]), goal))
        ratio("setup", "nsis", "   (goal < 1)")
        ratio("setup", "minimal", "   (goal <= 1.25)")
        ratio("nsis", "minimal")
        if args.stub_before:
            ratio("setup", "before")
        out("  * the program's and the Wine server's CPU time during the run")
        for k in tools:
            out("  %-8s rounds, wall s: %s" % (k, " ".join("%.2f" % x[0] for x in times[k])))
        out("  load average (1 min) at the rounds' starts: %s" % " ".join("%.1f" % x for x in loads))

    out()
    out("%d CPUs; load average before the run %.1f, after %.1f" % (os.cpu_count() or 1, load_start,
                                                                   load_average()))
    out("command: " + os.environ.get("SETRUN_BENCH_COMMAND", " ".join(sys.argv)))
    return 0


if __name__ == "__main__":
    sys.exit(main())
