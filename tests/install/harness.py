"""Installation tests from outside: builds installers with setrunc from small
projects, runs the setup program (either build) silently under Wine in a
private prefix and looks at what it left on the disk and in the registry.

Standard library only. The cases live in cases.py; run_install_tests.py
picks a group of them."""

import os
import re
import shutil
import struct
import subprocess
import time
import zlib


class Failure(Exception):
    """A check that did not hold; the case stops there."""


def check(condition, message):
    if not condition:
        raise Failure(message)


def check_equal(actual, expected, what):
    if actual != expected:
        a, e = repr(actual), repr(expected)
        if len(a) > 300:
            a = a[:300] + "..."
        if len(e) > 300:
            e = e[:300] + "..."
        raise Failure(f"{what}: got {a}, expected {e}")


def header(kind, flags, size):
    return struct.pack("<HHI", kind, flags, size)


def log_string(text):
    raw = text.encode("cp1252")
    return struct.pack("<H", len(raw)) + raw


def program_bits(path):
    """32 or 64: the processor a Windows program was built for."""
    with open(path, "rb") as f:
        image = f.read(4096)
    check(image[:2] == b"MZ", path + " is not a Windows program")
    pe = struct.unpack_from("<I", image, 0x3C)[0]
    check(image[pe:pe + 4] == b"PE\0\0", path + " is not a Windows program")
    machine = struct.unpack_from("<H", image, pe + 4)[0]
    check(machine in (0x14C, 0x8664), "%s: unknown machine 0x%x" % (path, machine))
    return 32 if machine == 0x14C else 64


SYSTEM32 = "C:\\windows\\system32"
SOFTWARE = "HKLM\\Software\\"


class Wine:
    """A private Wine prefix as one test group uses it. Windows paths on
    drive C map to <prefix>/drive_c; HOME points into the prefix's folder so
    that the prefix's desktop and documents folders are not the real ones.

    Paths and registry keys are named as the setup program under test names
    them. The prefix is a 32-bit or a 64-bit Windows (arch win32 or win64);
    a 32-bit setup program in a 64-bit prefix is redirected the way 64-bit
    Windows redirects it, and only there do the places differ:
    - its system folder C:\\windows\\system32 is C:\\windows\\syswow64 on the disk
      (host() and find_host() map it; raw=True does not);
    - its HKLM\\Software is HKLM\\Software\\Wow6432Node (the reg_* methods
      map it; raw=True does not);
    - its "#Program Files#" and "#CommonFiles#" are the folders of 32-bit
      programs (program_files, common_files).
    Everything else (HKCU, HKLM\\System, the Windows folder, the user's
    folders) is the same for both builds."""

    def __init__(self, prefix, runner, helpers, arch="win64", bits=64, logs=None):
        self.prefix = os.path.abspath(prefix)
        self.runner = runner          # tests/wine/run-in-wine.sh
        self.helpers = helpers        # the Windows build folder of the setup program
        check(arch in ("win32", "win64"), "unknown kind of prefix " + arch)
        check(arch == "win64" or bits == 32, "a 32-bit prefix runs only 32-bit programs")
        self.arch = arch
        self.bits = bits
        self.redirected = arch == "win64" and bits == 32
        if self.redirected:
            self.program_files = "C:\\Program Files (x86)"
        else:
            self.program_files = "C:\\Program Files"
        self.common_files = self.program_files + "\\Common Files"
        self.home = self.prefix + "-home"
        self.logs = logs or self.prefix + "-logs"   # the output of every run
        os.makedirs(self.home, exist_ok=True)
        os.makedirs(self.logs, exist_ok=True)
        self.env = dict(os.environ)
        self.env["SETRUN_WINEPREFIX"] = self.prefix
        self.env["SETRUN_WINEARCH"] = arch
        self.env["HOME"] = self.home
        self.env.pop("DISPLAY", None)
        self.count = 0
        self.drive_c = os.path.join(self.prefix, "drive_c")

    def _files(self):
        self.count += 1
        base = os.path.join(self.logs, "run%03d" % self.count)
        return base + ".out", base + ".err"

    def run(self, program, *args, timeout=120):
        """Runs a Windows program to its end; returns the exit code as a
        shell reads it (-1 is 255, -2 is 254)."""
        out, err = self._files()
        with open(out, "wb") as o, open(err, "wb") as e:
            p = subprocess.run(["sh", self.runner, program, *args], stdout=o, stderr=e,
                               stdin=subprocess.DEVNULL, env=self.env, timeout=timeout)
        self.last_output = out
        return p.returncode

    def start(self, program, *args):
        """Starts a Windows program in the background (same prefix)."""
        out, err = self._files()
        o, e = open(out, "wb"), open(err, "wb")
        p = subprocess.Popen(["sh", self.runner, program, *args], stdout=o, stderr=e,
                             stdin=subprocess.DEVNULL, env=self.env)
        o.close()
        e.close()
        return p

    def ensure(self):
        """Creates the prefix (the first run does)."""
        self.run("cmd", "/c", "exit")
        check(os.path.isdir(self.drive_c), "the Wine prefix was not created")

    def redirect_path(self, winpath):
        """The path on the disk of a path the setup program names."""
        if self.redirected and (winpath.lower() == SYSTEM32.lower() or
                                winpath.lower().startswith(SYSTEM32.lower() + "\\")):
            return "C:\\windows\\syswow64" + winpath[len(SYSTEM32):]
        return winpath

    def redirect_key(self, key):
        """The registry key on the disk of a key the setup program names."""
        if self.redirected and key.lower().startswith(SOFTWARE.lower()):
            return SOFTWARE + "Wow6432Node\\" + key[len(SOFTWARE):]
        return key

    def host(self, winpath, raw=False):
        """Host path of a path on drive C."""
        check(winpath[:3].upper() == "C:\\", "not on drive C: " + winpath)
        if not raw:
            winpath = self.redirect_path(winpath)
        return os.path.join(self.drive_c, *[p for p in winpath[3:].split("\\") if p])

    def find_host(self, winpath, raw=False):
        """Host path with the letter case of the existing folders (Windows
        names differ from the folders Wine made only in case)."""
        check(winpath[:3].upper() == "C:\\", "not on drive C: " + winpath)
        if not raw:
            winpath = self.redirect_path(winpath)
        path = self.drive_c
        for part in [p for p in winpath[3:].split("\\") if p]:
            match = part
            if os.path.isdir(path):
                for name in os.listdir(path):
                    if name.lower() == part.lower():
                        match = name
                        break
            path = os.path.join(path, match)
        return path

    def user(self):
        names = [n for n in os.listdir(os.path.join(self.drive_c, "users")) if n != "Public"]
        check(len(names) == 1, "cannot tell the prefix's user: %r" % names)
        return names[0]

    def reg_values(self, key, raw=False):
        """Values of a registry key as {name: (type, text)}; None when the key
        does not exist. Read with reg.exe, its output through a file."""
        rc = self.run("reg", "query", key if raw else self.redirect_key(key))
        with open(self.last_output, "rb") as f:
            text = f.read().decode("utf-8", "replace")
        if rc != 0:
            return None
        values = {}
        for line in text.splitlines():
            m = re.match(r"^    (.*?)    (REG_\w+)    ?(.*)$", line.rstrip("\r"))
            if m:
                values[m.group(1)] = (m.group(2), m.group(3))
        return values

    def reg_add(self, key, name=None, kind="REG_SZ", data=""):
        args = ["reg", "add", self.redirect_key(key), "/f"]
        if name is not None:
            args += ["/v", name, "/t", kind, "/d", data]
        for _ in range(3):
            rc = self.run(*args)
            if rc == 0:
                return
        with open(self.last_output, "rb") as f:
            out = f.read().decode("utf-8", "replace").strip()
        raise Failure("reg add %s failed with %d: %s" % (key, rc, out))

    def reg_delete(self, key, name=None, raw=False):
        key = key if raw else self.redirect_key(key)
        args = ["reg", "delete", key, "/f"] + (["/v", name] if name is not None else [])
        self.run(*args)


class Project:
    """A small project written into a work folder and built with setrunc."""

    def __init__(self, work, setrunc, stub):
        self.work = work
        self.setrunc = setrunc
        self.stub = stub
        os.makedirs(work, exist_ok=True)

    def file(self, name, data):
        path = os.path.join(self.work, name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)
        return path

    def build(self, toml, name="setup.exe", expect_ok=True):
        proj = os.path.join(self.work, name + ".toml")
        with open(proj, "w", encoding="utf-8") as f:
            f.write(toml)
        out = os.path.join(self.work, name)
        p = subprocess.run([self.setrunc, "build", proj, "-o", out, "--stub", self.stub, "-q"],
                           stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=300)
        if expect_ok:
            check(p.returncode == 0, "setrunc build failed: " + p.stdout.decode(errors="replace"))
        return out

    def inspect(self, setup):
        p = subprocess.run([self.setrunc, "inspect", setup], stdout=subprocess.PIPE,
                           stderr=subprocess.STDOUT, timeout=120)
        check(p.returncode == 0, "setrunc inspect failed")
        return p.stdout.decode("utf-8", "replace")


def stream_positions(inspect_text, data):
    """{entry name: (global data offset, packed size)} and the file offset of
    the first data byte, from `setrunc inspect` (its data-area line names the
    length word's value and an offset next to it; the length word is found
    there)."""
    m = re.search(r"data area: L0 = (\d+) bytes at offset (\d+)", inspect_text)
    check(m is not None, "inspect shows no data area")
    length, at = int(m.group(1)), int(m.group(2))
    word = struct.pack("<I", length)
    if data[at:at + 4] == word:
        area = at + 4
    else:
        check(data[at - 4:at] == word, "no data length word near offset %d" % at)
        area = at
    entries = {}
    for em in re.finditer(r'^\s+\[\d+\] "((?:[^"\\]|\\.)*)".*\n\s+size (\d+), packed (\d+) at (\d+)',
                          inspect_text, re.M):
        name = em.group(1).replace("\\\\", "\\")
        entries[name] = (int(em.group(4)), int(em.group(3)))
    return area, entries


def temp_copies(root):
    """Temporary copies (*.$$?) left below a folder."""
    found = []
    for folder, _, names in os.walk(root):
        for n in names:
            if re.search(r"\.\$\$.$", n):
                found.append(os.path.join(folder, n))
    return found


def file_log(entries):
    """Payload of the file log record: entries are (folder, name, flags)."""
    out = struct.pack("<I", len(entries))
    for folder, name, flags in entries:
        out += log_string(folder) + log_string(name) + bytes([flags])
    return out


def uninstaller_bytes(image, log_start, entries, registry=b"", shortcuts=b""):
    """The uninstaller file as the finishing step writes it; shortcuts is the
    shortcut record (shortcut_record), when the group names shortcuts."""
    payload = file_log(entries)
    return (image + log_start + header(0x1235, 0, len(payload)) + payload + shortcuts + registry
            + header(0x7F7F, 2, 0))


def read_link(path):
    """What a shell link file says, from its bytes: {target, arguments, folder,
    icon, icon_index, show}. The format: a 76-byte header (flags at 20, icon
    index at 56, show command at 60), the item list, the location block with
    the target's local path, then counted strings (name, relative path,
    working folder, arguments, icon), UTF-16 with flag 0x80."""
    data = read(path)
    check(len(data) >= 76 and struct.unpack_from("<I", data, 0)[0] == 76, path + " is no link")
    flags, = struct.unpack_from("<I", data, 20)
    icon_index, show = struct.unpack_from("<iI", data, 56)
    at = 76
    if flags & 1:
        at += 2 + struct.unpack_from("<H", data, at)[0]
    target = ""
    if flags & 2:
        size, _, info_flags, _, local, _, suffix = struct.unpack_from("<7I", data, at)
        if info_flags & 1:
            def text(offset):
                end = data.index(b"\0", at + offset)
                return data[at + offset:end].decode("cp1252")
            target = text(local) + text(suffix)
        at += size
    strings = {}
    for bit, name in ((4, "name"), (8, "relative"), (0x10, "folder"), (0x20, "arguments"),
                      (0x40, "icon")):
        if flags & bit:
            count, = struct.unpack_from("<H", data, at)
            at += 2
            width = 2 if flags & 0x80 else 1
            raw = data[at:at + count * width]
            at += count * width
            # Wine counts a terminator that the format does not have.
            strings[name] = raw.decode("utf-16-le" if width == 2 else "cp1252").rstrip("\0")
    return {"target": target, "arguments": strings.get("arguments", ""),
            "folder": strings.get("folder", ""), "icon": strings.get("icon", ""),
            "icon_index": icon_index, "show": show}


def shortcut_record(items):
    """The shortcut record of the uninstall log: items are (depth, folder,
    actual folder, name)."""
    payload = struct.pack("<I", len(items))
    for depth, folder, actual, name in items:
        payload += bytes([depth]) + log_string(folder) + log_string(actual) + log_string(name)
    return header(0x1236, 0, len(payload)) + payload


def read(path):
    with open(path, "rb") as f:
        return f.read()


def wait_for_file(path, timeout=30):
    end = time.time() + timeout
    while time.time() < end:
        if os.path.exists(path) and os.path.getsize(path) > 0:
            return True
        time.sleep(0.05)
    return False


def remove(path):
    if os.path.isdir(path) and not os.path.islink(path):
        # Read-only files are removable on Linux; the folders are writable.
        shutil.rmtree(path, ignore_errors=True)
    elif os.path.lexists(path):
        os.remove(path)


def patch_stored_stream(data, start, packed, position, new_byte, fix_adler):
    """Changes one data byte of a stream written with compression 0 (zlib
    header, stored deflate blocks of at most 65,535 bytes, Adler-32). With
    fix_adler the stream stays valid and inflates to other bytes; without it
    the stream fails its check."""
    stream = bytearray(data[start:start + packed])
    check(stream[0] == 0x78, "not a zlib stream")
    # Walk the stored blocks to find the output position.
    pos, out = 2, 0
    while True:
        check(stream[pos] & 6 == 0, "not a stored block")
        length = stream[pos + 1] | stream[pos + 2] << 8
        if out <= position < out + length:
            stream[pos + 5 + position - out] = new_byte
            break
        check(not stream[pos] & 1, "position beyond the stream")
        pos += 5 + length
        out += length
    if fix_adler:
        # Inflate without the trailer check, then recompute the trailer.
        d = zlib.decompressobj()
        body = d.decompress(bytes(stream[:-4]))
        stream[-4:] = struct.pack(">I", zlib.adler32(body))
    result = bytearray(data)
    result[start:start + packed] = stream
    return bytes(result)
