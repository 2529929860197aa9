"""Driving the setup program's wizard under Wine: the display a prefix uses
(Wine's null driver, or X11 on a private Xvfb for screenshots), the test
driver (wizard_driver.exe) with its scripts and results, a whole setup run
from start to exit code, and screenshots as BMP and PNG.

Builds on tests/install/harness.py (the Wine prefix, Project, checks).
Standard library only; see tests/wizard/README.md."""

import os
import re
import struct
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "install"))

from harness import Failure, Wine, check, check_equal, read  # noqa: E402,F401

WINESERVER = "/usr/lib/wine/wineserver"
KILLED = 199          # exit code of a setup program the driver ended after a failed step
SCREEN = (1024, 768)  # the virtual display and Wine's desktop on it


def quote(text):
    """A word of a driver script holding any text."""
    return '"' + (text.replace("\\", "\\\\").replace('"', '\\"')
                  .replace("\n", "\\n").replace("\t", "\\t")) + '"'


def _unquote(word):
    """The text of a quoted value of a result line (bytes in the system's
    code page, escaped as \\xHH, decoded as cp1252)."""
    if not word.startswith('"'):
        return word
    raw = word[1:-1].encode("latin-1").decode("unicode_escape").encode("latin-1")
    return raw.decode("cp1252", "replace")


class VirtualDisplay:
    """A private Xvfb server; the display number is the one Xvfb picks."""

    def __init__(self, size=SCREEN):
        self.size = size
        self.process = None
        self.name = None

    def __enter__(self):
        reading, writing = os.pipe()
        self.process = subprocess.Popen(
            ["Xvfb", "-displayfd", str(writing), "-screen", "0", "%dx%dx24" % self.size,
             "-nolisten", "tcp"], pass_fds=(writing,),
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(writing)
        with os.fdopen(reading) as f:
            number = f.readline().strip()   # written once the server listens
        if not number:
            self.process.kill()
            raise Failure("Xvfb did not start")
        self.name = ":" + number
        return self

    def __exit__(self, *exc):
        self.process.terminate()
        self.process.wait(30)


def stop_wine(wine, timeout=60):
    """Waits for the prefix's programs and server to end (ending them after
    `timeout` seconds); only this prefix's server is touched."""
    env = dict(wine.env, WINEPREFIX=wine.prefix)
    try:
        subprocess.run([WINESERVER, "-w"], env=env, timeout=timeout)
    except subprocess.TimeoutExpired:
        subprocess.run([WINESERVER, "-k"], env=env, timeout=timeout)


def use_display(wine, display=None):
    """Sets the prefix up for windows without a picture (display None: Wine's
    null driver, the default of tests/wine/run-in-wine.sh) or on a virtual
    display (X11 driver, one virtual desktop of the display's size, Wine's
    Marlett font for the caption buttons). A change takes effect once the
    prefix's server has ended, which this waits for."""
    if display is None:
        wine.env.pop("DISPLAY", None)
        wanted = "null"
    else:
        wine.env["DISPLAY"] = display.name
        wanted = "x11 %dx%d" % display.size
    wine.ensure()
    marker = os.path.join(wine.prefix, ".setrun-display")
    current = read(marker).decode() if os.path.exists(marker) else "null"
    if current == wanted:
        return
    drivers = "HKCU\\Software\\Wine\\Drivers"
    explorer = "HKCU\\Software\\Wine\\Explorer"
    if display is None:
        wine.reg_add(drivers, "Graphics", data="null")
        wine.reg_delete(explorer, "Desktop")
    else:
        wine.reg_add(drivers, "Graphics", data="x11")
        wine.reg_add(explorer, "Desktop", data="Default")
        wine.reg_add(explorer + "\\Desktops", "Default", data="%dx%d" % display.size)
        fonts = wine.find_host("C:\\windows\\Fonts")
        marlett = "/usr/share/wine/fonts/marlett.ttf"
        if os.path.exists(marlett) and os.path.isdir(fonts):
            with open(os.path.join(fonts, "marlett.ttf"), "wb") as f:
                f.write(read(marlett))
    stop_wine(wine)
    with open(marker, "w") as f:
        f.write(wanted)


class Step:
    """One result line: number, verb, ok, fields (key=value, texts decoded),
    message (the reason of a failure)."""

    FIELD = re.compile(r'(\w+)=("(?:[^"\\]|\\.)*"|\S+)')

    def __init__(self, line):
        m = re.match(r"^(ok|FAIL) (\d+) (\S+?)(:?)(?: (.*))?$", line)
        check(m is not None, "not a result line of the driver: " + line)
        self.ok = m.group(1) == "ok"
        self.number = int(m.group(2))
        self.verb = m.group(3)
        rest = m.group(5) or ""
        self.message = "" if self.ok else rest
        self.fields = {k: _unquote(v) for k, v in self.FIELD.findall(rest)} if self.ok else {}
        self.line = line

    def __getitem__(self, key):
        check(key in self.fields, f"step {self.number} ({self.verb}) has no {key}: {self.line}")
        return self.fields[key]


class Result:
    """What a driver run reported: steps in order (`steps[i]` is line i + 1
    of the script, counting only commands), `ok`, the failed step and the
    window tree that followed it."""

    def __init__(self, text, returncode):
        self.text = text
        self.returncode = returncode
        self.steps = [Step(l) for l in text.splitlines() if l.startswith(("ok ", "FAIL "))]
        self.tree = "\n".join(l for l in text.splitlines() if l.startswith("| "))
        self.ok = returncode == 0 and all(s.ok for s in self.steps)
        self.failed = next((s for s in self.steps if not s.ok), None)

    def __getitem__(self, index):
        return self.steps[index]

    def verb(self, verb):
        """The results of every step of that verb, in order."""
        return [s for s in self.steps if s.verb == verb]

    def check(self):
        """Raises Failure naming the failed step, with the whole output."""
        if not self.ok:
            raise Failure("the driver stopped (exit %d):\n%s" % (self.returncode, self.text.rstrip()))
        return self


class Driver:
    """The test driver: runs a list of script lines against whatever the
    prefix shows. Scripts and results go through files on drive C."""

    def __init__(self, wine, exe, work_win="C:\\wizard-driver"):
        self.wine = wine
        self.exe = exe
        self.work_win = work_win
        self.count = 0
        os.makedirs(wine.host(work_win), exist_ok=True)

    def run(self, steps, kill_on_failure=True, timeout=600):
        self.count += 1
        base = "%s\\run%03d" % (self.work_win, self.count)
        with open(self.wine.host(base + ".txt"), "w", encoding="cp1252") as f:
            f.write("\n".join(steps) + "\n")
        out = self.wine.host(base + ".out")
        if os.path.exists(out):
            os.remove(out)
        options = ["-k"] if kill_on_failure else []
        rc = self.wine.run(self.exe, *options, "-o", base + ".out", "-f", base + ".txt", timeout=timeout)
        text = read(out).decode("latin-1") if os.path.exists(out) else ""
        return Result(text, rc)


def drive(wine, driver, setup, steps, args=(), timeout=600):
    """Starts the setup program, drives it with `steps` and waits for it to
    end. Returns (exit code as a shell reads it: -1 is 255, the driver's
    result). After a failed step the driver has ended the program (KILLED);
    a program that does not end within `timeout` seconds is ended with the
    prefix's server, and the run fails."""
    program = wine.start(setup, *args)
    result = driver.run(steps, timeout=timeout)
    try:
        return program.wait(timeout), result
    except subprocess.TimeoutExpired:
        subprocess.run([WINESERVER, "-k"], env=dict(wine.env, WINEPREFIX=wine.prefix))
        program.wait(60)
        raise Failure("the setup program did not end after the steps:\n" + result.text)


class Bitmap:
    """A 24-bit BMP as the driver writes it."""

    def __init__(self, path):
        data = read(path)
        check(data[:2] == b"BM", path + " is not a BMP file")
        offset, = struct.unpack_from("<I", data, 10)
        self.width, self.height, _, bits = struct.unpack_from("<iiHH", data, 18)
        check(bits == 24, "%s has %d bits per pixel" % (path, bits))
        self.stride = (self.width * 3 + 3) & ~3
        self.rows = data[offset:]

    def pixel(self, x, y):
        """(red, green, blue) of the pixel at x, y from the top left."""
        at = (self.height - 1 - y) * self.stride + x * 3
        b, g, r = self.rows[at:at + 3]
        return r, g, b

    def colours(self):
        return {self.rows[y * self.stride + x * 3:y * self.stride + x * 3 + 3]
                for y in range(self.height) for x in range(self.width)}


def bmp_to_png(bmp, png):
    """Converts a screenshot with ImageMagick's convert."""
    p = subprocess.run(["convert", bmp, png], stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=120)
    check(p.returncode == 0 and os.path.exists(png),
          "convert %s failed: %s" % (bmp, p.stdout.decode(errors="replace")))


def png_size(png):
    """(width, height) from a PNG file's header."""
    data = read(png)
    check(data[:8] == b"\x89PNG\r\n\x1a\n", png + " is not a PNG file")
    return struct.unpack(">II", data[16:24])

