#!/usr/bin/env python3
"""Walks a project's installer through its wizard under Wine with the test
driver, as a user would, and checks the result: every page of the group's
sequence in turn (the licence accepted, the folder the wizard proposes, made
after its question), the finish page closed, exit code 0, and every file of
the installation folder on the disk with the packaged bytes.

  walk_project.py --setrunc PATH --stub SETRUN.EXE --prefix FOLDER
                  --project PROJECT.toml [-D NAME=VALUE ...]
                  [--arch win32|win64] [--screenshots FOLDER [--name NAME]
                  [--pages KIND,...]] [--dpi DPI]

With --screenshots the prefix shows its windows on a private Xvfb display
and a PNG of the wizard is saved for every page shown (NAME-N-KIND.png). The
installing page of a small project is gone before a picture can be taken, so
for it a second installer is built first: the project with one large file
more at the end, walked to that file, photographed and cancelled. --pages
photographs only the pages of those kinds. --dpi runs the walk with Wine's
LogPixels at that DPI (the setup program is DPI-aware and scales its
layout), removed again afterwards.
Without --screenshots Wine's null display driver is used (CI)."""

import argparse
import filecmp
import os
import re
import shutil
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)

from wizard_harness import (Driver, Failure, VirtualDisplay, Wine, bmp_to_png, check,  # noqa: E402
                            check_equal, quote, use_display)
from harness import program_bits, remove  # noqa: E402

KINDS = ["welcome", "information", "licence", "folder", "ready", "installing", "finish"]
LARGE = 512 << 20     # the extra file that keeps the installing page up for its picture
LARGE_NAME = "samples.dat"
DESKTOP = "HKCU\\Control Panel\\Desktop"   # LogPixels: the display's DPI as Wine reads it


class Walk:
    def __init__(self, wine, driver, setup, sequence, shots, name, work_win, pages=None):
        self.wine, self.driver, self.setup = wine, driver, setup
        self.pages = pages or KINDS
        self.sequence, self.shots, self.name, self.work_win = sequence, shots, name, work_win
        self.folder = None
        self.taken = []
        self.target = "frame"

    def shot(self, kind):
        """Driver steps that photograph the wizard under the page's name:
        the frame (a window's client area: the caption is Wine's, drawn
        inactive on a display without a window manager), or the whole
        screen in full-screen mode."""
        if not self.shots or kind not in self.pages:
            return []
        number = self.sequence.index(kind) + 1
        self.taken.append("%s-%d-%s" % (self.name, number, kind))
        return ["shot %s %s" % (quote("%s\\%s.bmp" % (self.work_win, self.taken[-1])), self.target)]

    def run(self, steps):
        return self.driver.run(steps).check()

    def to_page(self, stop_at=None, shoot=True):
        """Starts the installer and walks it from the first page up to the
        page `stop_at` (shown, untouched) or to its end. The folder page's
        folder is read; when it exists, the wizard is left, the folder
        removed and the walk begun again, so that the wizard asks to make
        it. Returns the step list still to run."""
        self.program = self.wine.start(self.setup)
        self.taken = []
        steps = ["wizard"]
        after_install = False
        for i, kind in enumerate(self.sequence):
            if kind == "installing":
                # The engine moves on by itself; a small installation's
                # page may come and go between two looks of the driver.
                if kind == stop_at:
                    return steps + ["wait-page"]
                after_install = True
                continue
            if i:
                steps.append("wait-state 1 hidden" if after_install and kind == "finish" else "wait-page")
            if kind == stop_at:
                return steps
            if kind == "licence":
                steps += ["click 1002"]
            if kind == "folder":
                steps += ["text 1004"]
                r = self.run(steps)
                self.folder = r.verb("text")[-1]["text"]
                check(self.folder[:3].upper() == "C:\\", "proposed folder: " + self.folder)
                there = self.wine.host(self.folder, raw=True)
                if os.path.exists(there):
                    # An earlier walk's: removed with the wizard closed (the
                    # running program may hold it as its current folder,
                    # which Windows would never let go), and walked again.
                    self.run(["wizard", "click 2", "answer yes", "answer ok", "exit 15"])
                    self.program.wait(120)
                    remove(there)
                    check(not os.path.exists(there), "cannot remove " + there)
                    return self.to_page(stop_at, shoot)
                steps = ["wizard"]
            if shoot:
                steps += self.shot(kind)
            if kind == "folder":
                steps += ["click 1", "answer yes contains=" + quote("does not exist yet")]
            elif kind == "finish":
                steps += ["click 2"]
            else:
                steps += ["click 1"]
        return steps

    def convert(self, out):
        for name in self.taken:
            bmp = self.wine.host("%s\\%s.bmp" % (self.work_win, name))
            bmp_to_png(bmp, os.path.join(out, name + ".png"))
            os.remove(bmp)


def build(setrunc, stub, project, defines, out):
    args = [setrunc, "build", project, "-o", out, "--stub", stub, "-q"]
    for d in defines:
        args += ["-D", d]
    p = subprocess.run(args, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=300)
    check(p.returncode == 0, "setrunc build failed: " + p.stdout.decode(errors="replace"))


def page_sequence(setrunc, setup):
    """The first group's page kinds as setrunc inspect lists them."""
    p = subprocess.run([setrunc, "inspect", setup], stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                       timeout=120)
    check(p.returncode == 0, "setrunc inspect failed")
    m = re.search(r"^  pages: (.*)$", p.stdout.decode(errors="replace"), re.M)
    check(m is not None, "no page sequence in the inspection")
    kinds = m.group(1).split()
    check(all(k in KINDS for k in kinds), "unknown page kinds: %r" % kinds)
    return kinds


def with_large_file(project, work):
    """A copy of the project's folder whose project lists one large file of
    zeros more, at the end of the last group."""
    copy = os.path.join(work, "large-project")
    shutil.copytree(os.path.dirname(os.path.abspath(project)), copy)
    with open(os.path.join(copy, LARGE_NAME), "wb") as f:
        f.truncate(LARGE)
    path = os.path.join(copy, os.path.basename(project))
    with open(path, "a", encoding="utf-8") as f:
        f.write('\n[[group.file]]\nsource = "%s"\n' % LARGE_NAME)
    return path


def photograph_installing_page(walk, work_win):
    """Walks the installer with the large file to its installing page,
    photographs it while the large file is decompressed (the bar shows the
    files before it) and cancels. Only the picture counts: when the
    installation outran the driver, the driver ends the program."""
    steps = walk.to_page(stop_at="installing", shoot=False)
    steps += ["wait-text 1008 contains " + LARGE_NAME] + walk.shot("installing")
    steps += ["click 2", "answer yes", "answer ok", "exit 15"]
    r = walk.driver.run(steps)
    shot = r.verb("shot")
    check(shot and shot[0].ok, "no picture of the installing page:\n" + r.text)
    walk.program.wait(120)


def main():
    a = argparse.ArgumentParser()
    a.add_argument("--setrunc", required=True)
    a.add_argument("--stub", required=True)
    a.add_argument("--prefix", required=True)
    a.add_argument("--project", required=True)
    a.add_argument("-D", dest="defines", action="append", default=[])
    a.add_argument("--arch", choices=["win32", "win64"], default="win64")
    a.add_argument("--screenshots", help="save a PNG of every page into this folder (Xvfb)")
    a.add_argument("--name", default="page")
    a.add_argument("--pages", type=lambda v: v.split(","), default=KINDS,
                   help="photograph only these page kinds (comma-separated)")
    a.add_argument("--dpi", type=int, help="Wine's LogPixels for the walk (96 = 100 %%)")
    a.add_argument("--shot", default="frame", choices=["frame", "backdrop", "screen"],
                   help="what a picture shows (full-screen wizards: screen)")
    args = a.parse_args()
    stub = os.path.abspath(args.stub)
    build_dir = os.path.dirname(stub)
    wine = Wine(args.prefix, os.path.join(HERE, "..", "wine", "run-in-wine.sh"), build_dir, args.arch,
                program_bits(stub))
    driver = Driver(wine, os.path.join(build_dir, "wizard_driver.exe"))
    work = tempfile.mkdtemp(prefix="setrun-walk.")
    display = VirtualDisplay() if args.screenshots else None
    try:
        if display:
            display.__enter__()
        use_display(wine, display)
        if args.dpi:
            wine.reg_add(DESKTOP, "LogPixels", "REG_DWORD", str(args.dpi))
        work_win = "C:\\setrun-walk"
        remove(wine.host(work_win))
        os.makedirs(wine.host(work_win))
        setup = wine.host(work_win + "\\setup.exe")
        build(args.setrunc, stub, args.project, args.defines, setup)
        sequence = page_sequence(args.setrunc, setup)
        print("pages: " + " ".join(sequence), flush=True)

        shots = args.screenshots
        if shots:
            os.makedirs(shots, exist_ok=True)
        walk = Walk(wine, driver, setup, sequence, shots, args.name, work_win, args.pages)
        walk.target = args.shot
        if shots and "installing" in sequence and "installing" in args.pages:
            large = wine.host(work_win + "\\setup-large.exe")
            build(args.setrunc, stub, with_large_file(args.project, work), args.defines, large)
            extra = Walk(wine, driver, large, sequence, shots, args.name, work_win)
            extra.target = args.shot
            photograph_installing_page(extra, work_win)
            extra.convert(shots)
            if extra.folder:
                remove(wine.host(extra.folder, raw=True))

        walk.run(walk.to_page() + ["exit 0"])
        check_equal(walk.program.wait(120), 0, "exit code")
        if shots:
            walk.convert(shots)

        # Every packaged file of the installation folder, as packaged.
        check(walk.folder is not None, "the walk saw no folder page")
        unpacked = os.path.join(work, "unpacked")
        p = subprocess.run([args.setrunc, "extract", setup, "-o", unpacked], stdout=subprocess.PIPE,
                           stderr=subprocess.STDOUT, timeout=300)
        check(p.returncode == 0, "setrunc extract failed: " + p.stdout.decode(errors="replace"))
        installed = wine.host(walk.folder, raw=True)
        count = 0
        for base, folders, names in os.walk(unpacked):
            folders[:] = [f for f in folders if not f.startswith("{")]   # other destinations
            for n in names:
                path = os.path.join(base, n)
                there = os.path.join(installed, os.path.relpath(path, unpacked))
                with open(path, "rb") as f:
                    packaged = f.read()
                if packaged.startswith(b"MZ") and packaged.endswith(b"\x7f\x7f" + bytes(6)):
                    # The uninstaller: its log continues where the packaged
                    # end header stood.
                    with open(there, "rb") as f:
                        check(f.read(len(packaged) - 8) == packaged[:-8],
                              "uninstaller not written as packaged: " + n)
                else:
                    check(os.path.isfile(there) and filecmp.cmp(path, there, shallow=False),
                          "not installed as packaged: " + os.path.relpath(path, unpacked))
                count += 1
        check(count > 0, "the package has no files for the installation folder")
        print("installed %d files into %s%s" % (count, walk.folder,
              "; pictures in " + shots if shots else ""), flush=True)
        return 0
    except Failure as e:
        print("FAIL: %s" % e, flush=True)
        return 1
    finally:
        if args.dpi:
            wine.reg_delete(DESKTOP, "LogPixels")
        shutil.rmtree(work, ignore_errors=True)
        if display:
            from wizard_harness import stop_wine
            stop_wine(wine)
            display.__exit__(None, None, None)


if __name__ == "__main__":
    sys.exit(main())
