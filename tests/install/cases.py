"""The installation cases, in groups of related ones. Each case gets a fresh
work folder on the prefix's drive C and cleans up the places it installs to
before it runs, so that a group can run again in the same prefix."""

import contextlib
import json
import os
import random
import re
import shutil
import subprocess
import time

from harness import (Failure, Project, check, check_equal, header, patch_stored_stream, read,
                     read_link, remove, shortcut_record, stream_positions, temp_copies,
                     uninstaller_bytes, wait_for_file)

UNINSTALL = "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\"
SHARED = "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs"
PENDING_KEY = "HKLM\\System\\CurrentControlSet\\Control\\Session Manager"
IMAGE = b"MZ uninstaller image of the installation tests\0"


def q(text):
    """A TOML basic string."""
    return json.dumps(text)


def noise(size, seed):
    return random.Random(seed).randbytes(size)


def text_data(size, seed):
    r = random.Random(seed)
    words = ["setup", "folder", "volume", "stream", "install", "registry", "group", "file"]
    out = []
    n = 0
    while n < size:
        line = " ".join(r.choice(words) for _ in range(r.randint(3, 12))) + "\r\n"
        out.append(line)
        n += len(line)
    return "".join(out).encode()[:size]


class Context:
    def __init__(self, wine, setrunc, stub, name):
        self.wine = wine
        self.stub = stub
        self.name = name
        self.work_win = "C:\\e2e-work\\" + name
        self.work = wine.host(self.work_win)
        remove(self.work)
        os.makedirs(self.work)
        self.project = Project(self.work, setrunc, stub)
        self.install_win = "C:\\e2e-inst\\" + name
        self.install = wine.host(self.install_win)
        remove(self.install)
        # What an earlier, failed run of the case left in the system folder.
        system = wine.find_host("C:\\windows\\system32")
        for name in os.listdir(system):
            if name.lower().startswith(self.name):
                remove(os.path.join(system, name))

    def setup_win(self, name="setup.exe"):
        return self.work_win + "\\" + name

    def run_setup(self, name="setup.exe", *args):
        return self.wine.run(self.setup_win(name), *args)

    def helper(self, name):
        path = os.path.join(self.wine.helpers, name)
        check(os.path.exists(path), f"{path} is missing: build the targets of "
              "tests/install/install_programs.cmake and msgbox_answer in the Windows build")
        return path

    def hold(self, winpath, share):
        """Holds a file open from another process; returns a release function."""
        ready = self.work_win + "\\held-%d.txt" % time.monotonic_ns()
        release = ready + ".go"
        p = self.wine.start(self.helper("hold_file.exe"), winpath, share, ready, release)
        if not wait_for_file(self.wine.host(ready), 60):
            p.kill()
            raise Failure("the helper did not take hold of " + winpath)
        check(read(self.wine.host(ready)) == b"held", "the helper could not open " + winpath)

        def let_go():
            open(self.wine.host(release), "wb").close()
            p.wait(60)
        return let_go

    def answer_boxes(self, caption, buttons):
        """Starts the message-box answerer; returns a function that waits for
        it and gives (exit code, texts of the boxes)."""
        texts = self.work_win + "\\boxes-%d.txt" % time.monotonic_ns()
        p = self.wine.start(self.helper("msgbox_answer.exe"), caption, buttons, texts)

        def finish():
            rc = p.wait(60)
            path = self.wine.host(texts)
            return rc, (read(path).decode("cp1252") if os.path.exists(path) else "")
        return finish


def project_head(title, extra=""):
    return (f"title = {q(title)}\nstub = \"x64\"\ncompression = 0\n"
            f"uninstaller = \"uninstaller.bin\"\n{extra}\n[layout]\nflags = [\"silent\"]\n")


def build_plain_package(ctx, title, files, uninstaller="Uninstall.exe", group=""):
    """Builds a package of one group in the installation folder, with its
    uninstaller: each of files is (source, data, more), where more holds the
    further lines of that file's table (or is empty); group holds further
    lines of the group's table."""
    p = ctx.project
    p.file("uninstaller.bin", IMAGE)
    tables = ""
    for source, data, more in files:
        p.file(source, data)
        tables += f"[[group.file]]\nsource = {q(source)}\n{more}"
    return p.build(project_head(title) + f"""
[[group]]
folder = {q(ctx.install_win)}
uninstaller = {q(uninstaller)}
{group}""" + tables)


def check_no_copies(*roots, stem=""):
    """No temporary copy below the folders; with stem, only copies whose name
    starts with it count (folders shared with other cases)."""
    for root in roots:
        left = [c for c in temp_copies(root) if os.path.basename(c).startswith(stem)]
        check(not left, "temporary copies left behind: %r" % left)


# ---------------------------------------------------------------- files


def case_files_folders_attributes_and_registration(ctx):
    """Nested folders, a folder entry, times, read-only, an empty file, a file
    for another Windows version; the uninstaller byte by byte, the Uninstall
    entry, the folder in the registry and in an INI file."""
    w, p = ctx.wine, ctx.project
    p.file("uninstaller.bin", IMAGE)
    files = {
        "a.txt": text_data(5000, 1),
        "big.bin": noise(300000, 2),
        "ro.txt": b"read only\r\n",
        "dated.txt": b"dated\r\n",
        "empty.txt": b"",
        "old.txt": b"for Windows 95 only\r\n",
    }
    for n, d in files.items():
        p.file("src/" + n, d)
    name = "Setrun E2E Files"
    ini_win = ctx.work_win + "\\folder.ini"
    log_start = header(0x1240, 0, 4) + b"LOG1"
    registry = header(0x1237, 0, 6) + b"KEY\0\0\0"
    w.reg_delete(UNINSTALL + name)
    w.reg_delete("HKCU\\Software\\Setrun E2E Files")
    setup = p.build(project_head("E2E Files") + f"""
[[group]]
name = {q(name)}
folder = {q(ctx.install_win)}
flags = ["uninstall_entry", "folder_to_registry", "folder_to_ini"]
registry = {{ root = "HKCU", key = "Software\\\\Setrun E2E Files", value = "Folder" }}
ini = {{ file = {q(ini_win)}, section = "Setup", key = "Folder" }}
uninstaller = "Uninstall.exe"
uninstaller_log_hex = "{log_start.hex()}"
registry_entries_hex = "{registry.hex()}"
[[group.file]]
source = "src/a.txt"
name = "x\\\\y\\\\z\\\\a.txt"
flags = ["check_space"]
[[group.file]]
source = "src/big.bin"
name = "x\\\\big.bin"
[[group.file]]
source = "src/ro.txt"
options = ["read_only", "ordinary"]
[[group.file]]
source = "src/dated.txt"
times = 2003-04-05T12:00:00Z
[[group.file]]
name = "logs\\\\keep"
flags = ["folder_entry"]
[[group.file]]
source = "src/empty.txt"
[[group.file]]
source = "src/old.txt"
windows = ["95"]
""")
    check_equal(ctx.run_setup(), 0, "exit code")
    inst = ctx.install
    check_equal(read(os.path.join(inst, "x/y/z/a.txt")), files["a.txt"], "x\\y\\z\\a.txt")
    check_equal(read(os.path.join(inst, "x/big.bin")), files["big.bin"], "x\\big.bin")
    check_equal(read(os.path.join(inst, "ro.txt")), files["ro.txt"], "ro.txt")
    check(not os.stat(os.path.join(inst, "ro.txt")).st_mode & 0o222, "ro.txt is not read-only")
    check(os.stat(os.path.join(inst, "dated.txt")).st_mode & 0o200, "dated.txt is read-only")
    check_equal(int(os.stat(os.path.join(inst, "dated.txt")).st_mtime), 1049544000,
                "last write time of dated.txt")
    check_equal(read(os.path.join(inst, "empty.txt")), b"", "empty.txt")
    # The builder stores the folder entry's name with a closing backslash.
    check(os.path.isdir(os.path.join(inst, "logs/keep")), "the folder entry's folder is missing")
    check(not os.path.exists(os.path.join(inst, "old.txt")), "a file for Windows 95 was installed")
    check_no_copies(inst)

    expected = uninstaller_bytes(IMAGE, log_start, [
        (".\\x\\y\\z", "a.txt", 0x8),
        (".\\x", "big.bin", 0),
        (".", "ro.txt", 0),
        (".", "dated.txt", 0),
        (".\\logs\\keep", "", 0),
        (".", "empty.txt", 0),
    ], registry)
    check_equal(read(os.path.join(inst, "Uninstall.exe")), expected, "the uninstaller file")

    values = w.reg_values(UNINSTALL + name)
    check(values is not None, "no Uninstall entry")
    check_equal(values.get("DisplayName"), ("REG_SZ", name), "DisplayName")
    check_equal(values.get("UninstallString"), ("REG_SZ", ctx.install_win + "\\Uninstall.exe"),
                "UninstallString")
    values = w.reg_values("HKCU\\Software\\Setrun E2E Files")
    check(values is not None, "no installation folder key under HKCU")
    check_equal(values.get("Folder"), ("REG_SZ", ctx.install_win), "installation folder value")
    ini = read(w.host(ini_win)).decode("cp1252").replace("\r\n", "\n")
    check_equal(ini.strip(), "[Setup]\nFolder=" + ctx.install_win, "INI file")
    w.reg_delete(UNINSTALL + name)


def case_earlier_installation_folder(ctx):
    """The folder an earlier installation recorded in the registry (quoted,
    with a program name and arguments, in other letter case) is the folder
    of this installation, with the letter case of the disk; it is recorded
    again in that form."""
    w, p = ctx.wine, ctx.project
    p.file("uninstaller.bin", IMAGE)
    p.file("src/a.txt", b"installed where the earlier one was\r\n")
    earlier = os.path.join(ctx.install, "Earlier Place")
    os.makedirs(earlier)
    key = "HKCU\\Software\\Setrun E2E Earlier"
    recorded = '"%s\\EARLIER PLACE\\Uninstall.exe" /remove' % ctx.install_win.lower()
    w.reg_delete(key)
    w.reg_add(key, "Path", "REG_SZ", recorded)
    default = ctx.install_win + "\\Default"
    p.build(project_head("E2E Earlier") + f"""
[[group]]
folder = {q(default)}
flags = ["folder_to_registry"]
registry = {{ root = "HKCU", key = "Software\\\\Setrun E2E Earlier", value = "Path" }}
uninstaller = "Uninstall.exe"
[[group.file]]
source = "src/a.txt"
""")
    check_equal(ctx.run_setup(), 0, "exit code")
    check_equal(read(os.path.join(earlier, "a.txt")), b"installed where the earlier one was\r\n",
                "a.txt in the earlier folder")
    check(not os.path.exists(os.path.join(ctx.install, "Default")), "the default folder was used")
    check_equal(read(os.path.join(earlier, "Uninstall.exe")),
                uninstaller_bytes(IMAGE, b"", [(".", "a.txt", 0)]), "the uninstaller")
    # The drive part stays as written; the folders take the disk's letter case.
    corrected = ctx.install_win.lower()[:3] + ctx.install_win[3:] + "\\Earlier Place"
    check_equal((w.reg_values(key) or {}).get("Path"), ("REG_SZ", corrected),
                "the folder recorded again")
    w.reg_delete(key)


def case_uninstaller_in_a_subfolder(ctx):
    """Files are logged relative to the uninstaller's own folder only when
    they lie below it; the others keep their absolute folder."""
    build_plain_package(ctx, "E2E Sub Uninstaller", [
        ("src/a.txt", b"a\r\n", ""),
        ("src/b.txt", b"b\r\n", 'name = "tools\\\\data\\\\b.txt"\n'),
    ], uninstaller="tools\\Uninstall.exe")
    check_equal(ctx.run_setup(), 0, "exit code")
    check_equal(read(os.path.join(ctx.install, "tools/Uninstall.exe")),
                uninstaller_bytes(IMAGE, b"", [(ctx.install_win, "a.txt", 0),
                                               (".\\data", "b.txt", 0)]), "the uninstaller")


def case_destinations(ctx):
    """Every destination that means something under Wine: Windows folder,
    system folder (committed after the file phase) with shared counts,
    desktop, a custom folder with variables, documents and application
    data; files outside the installation folder are logged with absolute
    folders."""
    w, p = ctx.wine, ctx.project
    p.file("uninstaller.bin", IMAGE)
    tag = ctx.name
    user = w.user()
    places = {
        "win": ("windows", "C:\\windows", tag + "-win.txt", None),
        "sys": ("system", "C:\\windows\\system32", tag + "-sys.dll", None),
        "sys2": ("system", "C:\\windows\\system32", tag + "-sys2.dll", None),
        "desk": ("desktop", f"C:\\users\\{user}\\Desktop", tag + "-desk.txt", None),
        "cust": ("custom", f"C:\\windows\\{tag}-custom\\sub", "cust.txt",
                 "#Windows#\\" + tag + "-custom\\sub"),
        "cust2": ("custom", "#INSTALL#\\extra", "cust2.txt", "#InstallDir#\\extra"),
        "doc": ("documents", f"C:\\users\\{user}\\Documents\\{tag}", "doc.txt", None),
        "app": ("appdata", f"C:\\users\\{user}\\AppData\\Roaming\\{tag}", "app.ini", None),
    }
    places = {k: (d, f.replace("#INSTALL#", ctx.install_win), b, c)
              for k, (d, f, b, c) in places.items()}
    entries = ""
    data = {}
    for i, (key, (dest, folder, base, custom)) in enumerate(places.items()):
        data[key] = text_data(3000 + i * 777, 10 + i)
        p.file("src/" + key, data[key])
        name = base if dest not in ("documents", "appdata") else tag + "\\" + base
        remove(w.find_host(folder + "\\" + base))
        entries += f"[[group.file]]\nsource = \"src/{key}\"\nname = {q(name)}\ndestination = \"{dest}\"\n"
        if custom:
            entries += f"custom_folder = {q(custom)}\n"
        if key.startswith("sys"):
            entries += "flags = [\"shared\"]\n"
    p.file("src/here", b"in the installation folder\r\n")
    entries += "[[group.file]]\nsource = \"src/here\"\nname = \"here.txt\"\n"
    # A shared count that exists is raised; a missing one starts at 1.
    sys_path = "C:\\windows\\system32\\" + places["sys"][2]
    sys2_path = "C:\\windows\\system32\\" + places["sys2"][2]
    w.reg_add(SHARED, sys_path, "REG_DWORD", "3")
    w.reg_delete(SHARED, sys2_path)
    setup = p.build(project_head("E2E Destinations") + f"""
[[group]]
folder = {q(ctx.install_win)}
flags = []
uninstaller = "Uninstall.exe"
{entries}""")
    check_equal(ctx.run_setup(), 0, "exit code")
    log = []
    for key, (dest, folder, base, custom) in places.items():
        host = w.find_host(folder + "\\" + base)
        check(os.path.exists(host), f"{dest}: {folder}\\{base} was not installed")
        check_equal(read(host), data[key], f"{dest}: {folder}\\{base}")
        check_no_copies(os.path.dirname(host), stem=base[:-4])
        if folder.startswith(ctx.install_win + "\\"):
            folder = "." + folder[len(ctx.install_win):]
        log.append((folder, base, 1 if key.startswith("sys") else 0))
    log.append((".", "here.txt", 0))
    shared = w.reg_values(SHARED) or {}
    check_equal(shared.get(sys_path), ("REG_DWORD", "0x4"), "shared count raised from 3")
    check_equal(shared.get(sys2_path), ("REG_DWORD", "0x1"), "new shared count")
    check_equal(read(os.path.join(ctx.install, "Uninstall.exe")),
                uninstaller_bytes(IMAGE, b"", log), "the uninstaller file")
    for key, (dest, folder, base, custom) in places.items():
        remove(w.find_host(folder + "\\" + base))
    w.reg_delete(SHARED, sys_path)
    w.reg_delete(SHARED, sys2_path)


def case_machine_wide_places(ctx):
    """The places that 64-bit Windows keeps apart for a 32-bit program:
    "#Program Files#" and "#CommonFiles#", the system folder, and
    HKLM\\Software with the installation folder's value and the Uninstall
    entry. Only a 32-bit setup program in a 64-bit prefix is redirected (see
    harness.Wine): its files and keys stand in the 32-bit places and nowhere
    in the 64-bit ones. Everything else, the installed bytes, the uninstaller
    and the values, is the same for both builds."""
    w, p = ctx.wine, ctx.project
    p.file("uninstaller.bin", IMAGE)
    name = "Setrun E2E Machine"
    key = "HKLM\\Software\\Setrun E2E Machine"
    folder_win = w.program_files + "\\" + name
    common_win = w.common_files + "\\" + name
    sys_win = "C:\\windows\\system32\\" + ctx.name + ".dll"
    data = {"a.txt": text_data(4000, 51), "c.txt": b"common files\r\n", "s.dll": noise(5000, 52)}
    for n, d in data.items():
        p.file("src/" + n, d)

    def clean():
        for folder in (folder_win, common_win):
            remove(w.find_host(folder))
        for raw in (False, True):
            w.reg_delete(key, raw=raw)
            w.reg_delete(UNINSTALL + name, raw=raw)
        remove(w.find_host(sys_win))
    clean()
    p.build(project_head("E2E Machine") + f"""
[[group]]
name = {q(name)}
folder = "#Program Files#\\\\{name}"
flags = ["uninstall_entry", "folder_to_registry"]
registry = {{ root = "HKLM", key = "Software\\\\{name}", value = "Folder" }}
uninstaller = "Uninstall.exe"
[[group.file]]
source = "src/a.txt"
[[group.file]]
source = "src/c.txt"
custom_folder = "#CommonFiles#\\\\{name}"
[[group.file]]
source = "src/s.dll"
name = "{ctx.name}.dll"
destination = "system"
""")
    check_equal(ctx.run_setup(), 0, "exit code")
    check_equal(read(w.find_host(folder_win + "\\a.txt")), data["a.txt"], "a.txt in " + folder_win)
    check_equal(read(w.find_host(common_win + "\\c.txt")), data["c.txt"], "c.txt in " + common_win)
    check_equal(read(w.find_host(sys_win)), data["s.dll"], sys_win)
    check_equal(read(w.find_host(folder_win + "\\Uninstall.exe")),
                uninstaller_bytes(IMAGE, b"", [(".", "a.txt", 0), (common_win, "c.txt", 0),
                                               ("C:\\windows\\system32", ctx.name + ".dll", 0)]),
                "the uninstaller")
    check_equal((w.reg_values(key) or {}).get("Folder"), ("REG_SZ", folder_win),
                "installation folder value")
    values = w.reg_values(UNINSTALL + name) or {}
    check_equal(values.get("DisplayName"), ("REG_SZ", name), "DisplayName")
    check_equal(values.get("UninstallString"), ("REG_SZ", folder_win + "\\Uninstall.exe"),
                "UninstallString")
    if w.redirected:
        check_equal(folder_win, "C:\\Program Files (x86)\\" + name, "installation folder")
        check_equal(common_win, "C:\\Program Files (x86)\\Common Files\\" + name,
                    "common files folder")
        check(os.path.exists(w.find_host("C:\\windows\\syswow64\\" + ctx.name + ".dll", raw=True)),
              "the system file is not in the 32-bit system folder syswow64")
        for folder in ("C:\\Program Files\\" + name, "C:\\Program Files\\Common Files\\" + name,
                       sys_win):
            check(not os.path.exists(w.find_host(folder, raw=True)), folder + " exists")
        check(w.reg_values("HKLM\\Software\\Wow6432Node\\" + name, raw=True) is not None,
              "the installation folder's key is not below Wow6432Node")
        for k in (key, UNINSTALL + name):
            check(w.reg_values(k, raw=True) is None, k + " exists in the 64-bit registry view")
    else:
        check_equal(folder_win, "C:\\Program Files\\" + name, "installation folder")
    clean()


# ---------------------------------------------------------------- packages


def case_data_volumes(ctx):
    """File data in the program file and two data volumes, streams running on
    from one file into the next, and identical files stored once: a copy
    right behind its twin reads the same stream again, one in a later volume
    gets a stream of its own there (volumes are read forwards only); then
    the last volume missing: code 18, the system file kept back for the end
    of the run is thrown away, nothing half-written, nothing registered."""
    w, p = ctx.wine, ctx.project
    p.file("uninstaller.bin", IMAGE)
    # 320 KB that does not compress: more than the program file and one volume
    # of 150 KB can hold, whatever the size of the setup program.
    files = {"t1.txt": text_data(5000, 20), "docs\\t2.txt": text_data(5000, 20),
             "v1.bin": noise(160000, 21), "v2.bin": noise(160000, 22), "v3.txt": text_data(60000, 23),
             "again\\v1.bin": noise(160000, 21)}
    sys_win = "C:\\windows\\system32\\%s.dll" % ctx.name
    sys_host = w.find_host(sys_win)
    remove(sys_host)
    p.file("src/sys.dll", b"system file of the volume test\r\n")
    entries = f"[[group.file]]\nsource = \"src/sys.dll\"\nname = \"{ctx.name}.dll\"\n" \
              "destination = \"system\"\n"
    for n, d in files.items():
        source = "src/" + n.replace("\\", "_")
        p.file(source, d)
        entries += f"[[group.file]]\nsource = {q(source)}\nname = {q(n)}\n"
    name = "Setrun E2E Volumes"
    w.reg_delete(UNINSTALL + name)
    setup = p.build(project_head("E2E Volumes", 'volume_size = "150K"') + f"""
[[group]]
name = {q(name)}
folder = {q(ctx.install_win)}
flags = ["uninstall_entry"]
uninstaller = "Uninstall.exe"
{entries}""")
    check(os.path.exists(setup[:-4] + ".D01") and os.path.exists(setup[:-4] + ".D02"),
          "the build made fewer than two data volumes")
    check(os.path.getsize(setup) <= 150 * 1024, "the program file is larger than the volume size")
    positions = re.findall(r'^\s+\[\d+\] "([^"]*)".*\n\s+size \d+, packed \d+ at (\d+)',
                           p.inspect(setup), re.M)
    at = {n.replace("\\\\", "\\"): int(o) for n, o in positions}
    check_equal(at["docs\\t2.txt"], at["t1.txt"], "the data offset of a file identical to the one before")
    check(at["again\\v1.bin"] > at["v3.txt"], "a file identical to one in an earlier volume has no "
          "stream of its own")
    verify = subprocess.run([p.setrunc, "verify", setup], stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    check_equal(verify.returncode, 0, "setrunc verify: " + verify.stdout.decode(errors="replace"))
    check_equal(ctx.run_setup(), 0, "exit code")
    for n, d in files.items():
        check_equal(read(os.path.join(ctx.install, *n.split("\\"))), d, n)
    check_equal(read(sys_host), b"system file of the volume test\r\n", "the system file")
    check_no_copies(ctx.install)
    check_no_copies(os.path.dirname(sys_host), stem=ctx.name)
    check(w.reg_values(UNINSTALL + name) is not None, "no Uninstall entry")
    w.reg_delete(UNINSTALL + name)

    remove(ctx.install)
    remove(sys_host)
    last = sorted(f for f in os.listdir(ctx.work) if f.startswith("setup.D"))[-1]
    os.remove(os.path.join(ctx.work, last))
    check_equal(ctx.run_setup(), 18, "exit code with a missing volume")
    check(not os.path.exists(os.path.join(ctx.install, "again", "v1.bin")), "again\\v1.bin was installed")
    check(not os.path.exists(sys_host), "the system file was put in place after a failure")
    check_no_copies(ctx.install)
    check_no_copies(os.path.dirname(sys_host), stem=ctx.name)
    check(w.reg_values(UNINSTALL + name) is None, "a failed installation was registered")
    check(not os.path.exists(os.path.join(ctx.install, "Uninstall.exe")) or
          read(os.path.join(ctx.install, "Uninstall.exe"))[-8:] != header(0x7F7F, 2, 0),
          "a failed installation completed its uninstaller")


def case_package_named_on_the_command_line(ctx):
    """The bare setup program reads a package named with /S (a quoted path
    with spaces) and finds its data volumes beside that file."""
    w, p = ctx.wine, ctx.project
    p.file("uninstaller.bin", IMAGE)
    data = noise(120000, 24)
    p.file("src/big.bin", data)
    setup = p.build(project_head("E2E Slash S", 'volume_size = "100K"') + f"""
[[group]]
folder = {q(ctx.install_win)}
[[group.file]]
source = "src/big.bin"
""")
    folder_win = ctx.work_win + "\\with spaces"
    folder = w.host(folder_win)
    os.makedirs(folder)
    copied = 0
    for name in os.listdir(ctx.work):
        if name.startswith("setup."):
            shutil.move(os.path.join(ctx.work, name), os.path.join(folder, name))
            copied += 1
    check(copied >= 3, "the build made no data volume")
    # Wine puts an argument with spaces in double quotes: the command line
    # reads /S "...\with spaces\setup.exe".
    check_equal(w.run(ctx.stub, "/S", folder_win + "\\setup.exe"), 0, "exit code")
    check_equal(read(os.path.join(ctx.install, "big.bin")), data, "big.bin")
    check_no_copies(ctx.install)


def case_package_named_relative_to_the_current_folder(ctx):
    """/S with a path relative to the current folder names the file in that
    folder for the whole run: the installation enters its own folder before
    it reads the file data, and a file of the same name standing there is
    never read. An absolute path does the same."""
    w, p = ctx.wine, ctx.project
    p.file("uninstaller.bin", IMAGE)
    data = noise(120000, 25)
    p.file("src/big.bin", data)
    p.build(project_head("E2E Relative S", 'volume_size = "100K"') + f"""
[[group]]
folder = {q(ctx.install_win)}
[[group.file]]
source = "src/big.bin"
""")
    pkg_win = ctx.work_win + "\\pkg"
    os.makedirs(w.host(pkg_win))
    for name in os.listdir(ctx.work):
        if name.startswith("setup."):
            shutil.move(os.path.join(ctx.work, name), os.path.join(w.host(pkg_win), name))
    decoy = b"MZ not the package"
    for folder_win, argument in ((ctx.work_win, "pkg\\setup.exe"), (pkg_win, "setup.exe"),
                                 ("C:\\", pkg_win + "\\setup.exe")):
        remove(ctx.install)
        for name in ("setup.exe", "pkg/setup.exe"):
            p.file(os.path.join(ctx.install, name), decoy)
        with contextlib.chdir(w.host(folder_win)):
            rc = w.run(ctx.stub, "/S" + argument)
        what = f"/S{argument} in {folder_win}"
        check_equal(rc, 0, "exit code of " + what)
        check_equal(read(os.path.join(ctx.install, "big.bin")), data, "big.bin of " + what)
        for name in ("setup.exe", "pkg/setup.exe"):
            check_equal(read(os.path.join(ctx.install, name)), decoy, name + " after " + what)
        check_no_copies(ctx.install)


def case_install_folder_is_a_file(ctx):
    """A file where the installation folder should be: the folder check fails
    with code 5 and nothing is installed."""
    build_plain_package(ctx, "E2E Folder File", [("src/a.txt", b"a\r\n", "")])
    os.makedirs(os.path.dirname(ctx.install), exist_ok=True)
    with open(ctx.install, "wb") as f:
        f.write(b"not a folder")
    check_equal(ctx.run_setup(), 5, "exit code")
    check_equal(read(ctx.install), b"not a folder", "the file in the folder's place")
    remove(ctx.install)


def case_sixteen_groups_forced_group(ctx):
    """Sixteen install groups; the forced-page record selects the last one:
    only its files and its uninstaller are written, and no folder value is
    recorded."""
    w, p = ctx.wine, ctx.project
    p.file("uninstaller.bin", IMAGE)
    groups = ""
    for g in range(16):
        p.file(f"src/g{g}.txt", b"group %d\r\n" % g)
        remove(ctx.install + "-g%d" % g)
        groups += f"""
[[group]]
folder = {q(ctx.install_win + "-g%d" % g)}
flags = ["folder_to_registry"]
registry = {{ root = "HKCU", key = "Software\\\\Setrun E2E Groups", value = "G{g}" }}
uninstaller = "Uninstall.exe"
[[group.file]]
source = "src/g{g}.txt"
"""
    w.reg_delete("HKCU\\Software\\Setrun E2E Groups")
    setup = p.build(project_head("E2E Groups", 'forced_page = { page = "installing", group = 15 }')
                    + groups)
    check_equal(ctx.run_setup(), 0, "exit code")
    for g in range(16):
        folder = ctx.install + "-g%d" % g
        if g == 15:
            check_equal(read(os.path.join(folder, "g15.txt")), b"group 15\r\n", "g15.txt")
            check_equal(read(os.path.join(folder, "Uninstall.exe")),
                        uninstaller_bytes(IMAGE, b"", [(".", "g15.txt", 0)]), "the uninstaller")
        else:
            check(not os.path.exists(folder), f"group {g} was installed")
    check(w.reg_values("HKCU\\Software\\Setrun E2E Groups") is None,
          "a forced-page run recorded the installation folder")


def case_append_uninstaller(ctx):
    """A second package with the append flag adds its log to the completed
    uninstaller of the first, overwriting only its end header."""
    w, p = ctx.wine, ctx.project
    p.file("uninstaller.bin", IMAGE)
    p.file("src/one.txt", b"first package\r\n")
    p.file("src/two.txt", b"second package\r\n")
    log_one = header(0x1240, 0, 3) + b"one"
    log_two = header(0x1240, 0, 3) + b"two"
    reg_two = header(0x1237, 0, 4) + b"REG\0"
    first = p.build(project_head("E2E Append") + f"""
[[group]]
folder = {q(ctx.install_win)}
uninstaller = "Uninstall.exe"
uninstaller_log_hex = "{log_one.hex()}"
[[group.file]]
source = "src/one.txt"
""", "first.exe")
    second = p.build(project_head("E2E Append") + f"""
[[group]]
folder = {q(ctx.install_win)}
flags = ["append_uninstaller"]
uninstaller = "Uninstall.exe"
uninstaller_log_hex = "{log_two.hex()}"
registry_entries_hex = "{reg_two.hex()}"
[[group.file]]
source = "src/two.txt"
name = "sub\\\\two.txt"
""", "second.exe")
    check_equal(ctx.run_setup("first.exe"), 0, "exit code of the first package")
    uninstaller = os.path.join(ctx.install, "Uninstall.exe")
    one = uninstaller_bytes(IMAGE, log_one, [(".", "one.txt", 0)])
    check_equal(read(uninstaller), one, "the first uninstaller")
    check_equal(ctx.run_setup("second.exe"), 0, "exit code of the second package")
    payload_entries = [(".\\sub", "two.txt", 0)]
    expected = one[:-8] + uninstaller_bytes(b"", b"", payload_entries, reg_two)
    check_equal(read(uninstaller), expected, "the uninstaller after appending")
    check_equal(read(os.path.join(ctx.install, "sub/two.txt")), b"second package\r\n", "two.txt")
    check_no_copies(ctx.install)

    # An uninstaller that was never completed (its end header lacks the mark)
    # is not appended to: the second package writes its own.
    remove(ctx.install)
    os.makedirs(ctx.install)
    with open(uninstaller, "wb") as f:
        f.write(IMAGE + log_one + header(0x7F7F, 0, 0))
    check_equal(ctx.run_setup("second.exe"), 0, "exit code over an incomplete uninstaller")
    check_equal(read(uninstaller), uninstaller_bytes(IMAGE, log_two, payload_entries, reg_two),
                "the uninstaller written afresh")


# ---------------------------------------------------------------- existing files


def case_only_if_absent_and_read_only(ctx):
    """Only-if-absent keeps an existing file (and logs it) and installs a
    missing one; a read-only target is replaced and stays read-only."""
    build_plain_package(ctx, "E2E Absent", [
        ("src/keep.txt", b"new keep\r\n", 'flags = ["only_if_absent"]\n'),
        ("src/fresh.txt", b"new fresh\r\n", 'flags = ["only_if_absent"]\n'),
        ("src/ro.txt", b"new read-only\r\n", ""),
    ])
    os.makedirs(ctx.install)
    with open(os.path.join(ctx.install, "keep.txt"), "wb") as f:
        f.write(b"old")
    ro = os.path.join(ctx.install, "ro.txt")
    with open(ro, "wb") as f:
        f.write(b"old read-only")
    os.chmod(ro, 0o444)
    check_equal(ctx.run_setup(), 0, "exit code")
    check_equal(read(os.path.join(ctx.install, "keep.txt")), b"old", "kept file")
    check_equal(read(os.path.join(ctx.install, "fresh.txt")), b"new fresh\r\n", "absent file")
    check_equal(read(ro), b"new read-only\r\n", "read-only target")
    check(not os.stat(ro).st_mode & 0o222, "the replaced read-only file lost its attribute")
    check_equal(read(os.path.join(ctx.install, "Uninstall.exe")),
                uninstaller_bytes(IMAGE, b"", [(".", "keep.txt", 0), (".", "fresh.txt", 0),
                                               (".", "ro.txt", 0)]), "the uninstaller")
    check_no_copies(ctx.install)


def _locked_setup(ctx, title, data, existing):
    """A package with one file for the installation folder (read-only) and one
    shared file for the system folder, both named after the case, and an
    uninstaller; both targets are written beforehand with existing. Returns
    the Windows and the host paths of the two targets."""
    p = ctx.project
    p.file("uninstaller.bin", IMAGE)
    p.file("src/lock.dll", data)
    p.build(project_head(title) + f"""
[[group]]
folder = {q(ctx.install_win)}
uninstaller = "Uninstall.exe"
[[group.file]]
source = "src/lock.dll"
name = "{ctx.name}.dll"
options = ["read_only", "ordinary"]
[[group.file]]
source = "src/lock.dll"
name = "{ctx.name}.dll"
destination = "system"
flags = ["shared"]
""")
    inst_win = ctx.install_win + "\\" + ctx.name + ".dll"
    sys_win = "C:\\windows\\system32\\" + ctx.name + ".dll"
    os.makedirs(ctx.install)
    inst_host, sys_host = ctx.wine.host(inst_win), ctx.wine.find_host(sys_win)
    for path in (inst_host, sys_host):
        with open(path, "wb") as f:
            f.write(existing)
    return inst_win, sys_win, inst_host, sys_host


def _check_locked_uninstaller(ctx):
    """The uninstaller logs both targets of _locked_setup."""
    check_equal(read(os.path.join(ctx.install, "Uninstall.exe")),
                uninstaller_bytes(IMAGE, b"", [(".", ctx.name + ".dll", 0),
                                               ("C:\\windows\\system32", ctx.name + ".dll", 1)]),
                "the uninstaller")


def _run_held(ctx, paths, share):
    """Runs setup.exe while other programs hold the given files open."""
    releases = []
    try:
        for path in paths:
            releases.append(ctx.hold(path, share))
        return ctx.run_setup()
    finally:
        for let_go in releases:
            let_go()


def _pending_moves(w):
    values = w.reg_values(PENDING_KEY) or {}
    pending = values.get("PendingFileRenameOperations")
    if pending is None:
        return None
    check_equal(pending[0], "REG_MULTI_SZ", "type of PendingFileRenameOperations")
    items = [i.lower() for i in pending[1].split("\\0") if i]
    return list(zip(items[0::2], items[1::2]))


def case_locked_identical(ctx):
    """Targets held open by another program that already hold the packaged
    bytes: in the installation folder the comparison with the locked file
    finds them equal, in the system folder the file is found in use and
    identical and kept (its shared count still rises, and it is logged).
    No restart is needed."""
    w = ctx.wine
    data = noise(20000, 31)
    inst_win, sys_win, inst_host, sys_host = _locked_setup(ctx, "E2E Locked Same", data, data)
    w.reg_add(SHARED, sys_win, "REG_DWORD", "2")
    w.reg_delete(PENDING_KEY, "PendingFileRenameOperations")
    rc = _run_held(ctx, [inst_win, sys_win], "read")
    check_equal(rc, 0, "exit code")
    check_equal(read(inst_host), data, "locked identical target")
    check_equal(read(sys_host), data, "locked identical system file")
    check_no_copies(ctx.install)
    check_no_copies(os.path.dirname(sys_host), stem=ctx.name)
    check(_pending_moves(w) is None, "a move was scheduled for identical files")
    check_equal((w.reg_values(SHARED) or {}).get(sys_win), ("REG_DWORD", "0x3"),
                "shared count of the kept system file")
    _check_locked_uninstaller(ctx)
    remove(sys_host)
    w.reg_delete(SHARED, sys_win)


def case_locked_different(ctx):
    """Targets held open without sharing that differ: each copy waits under
    its temporary name (the read-only option already on it), the moves are
    recorded for the next start of Windows (the system file's at the commit
    after the file phase), both entries are logged, and the exit code says
    that a restart is needed."""
    w = ctx.wine
    data = noise(20000, 32)
    inst_win, sys_win, inst_host, sys_host = _locked_setup(ctx, "E2E Locked Other", data,
                                                           b"old contents")
    w.reg_add(SHARED)
    w.reg_delete(SHARED, sys_win)
    w.reg_delete(PENDING_KEY, "PendingFileRenameOperations")
    rc = _run_held(ctx, [inst_win, sys_win], "none")
    check_equal(rc, 254, "exit code (restart needed, -2)")
    moves = _pending_moves(w)
    check(moves is not None, "no PendingFileRenameOperations value")
    for target_win, target_host in ((inst_win, inst_host), (sys_win, sys_host)):
        check_equal(read(target_host), b"old contents", "locked target " + target_win)
        copy_win = target_win[:-4] + ".$$A"
        copy = target_host[:-4] + ".$$A"
        check(os.path.exists(copy), "the waiting copy of %s is missing" % target_win)
        check_equal(read(copy), data, "the waiting copy of " + target_win)
        # The system moves the files as a 64-bit program: a 32-bit setup
        # program names the system folder it really means (syswow64).
        real_copy, real_target = w.redirect_path(copy_win), w.redirect_path(target_win)
        check(any(src.endswith(real_copy.lower()) and dst.endswith(real_target.lower())
                  for src, dst in moves),
              "no move of %s over %s in PendingFileRenameOperations: %r" % (copy_win, target_win,
                                                                            moves))
    check(not os.stat(inst_host[:-4] + ".$$A").st_mode & 0o222,
          "the waiting copy did not get the read-only attribute")
    _check_locked_uninstaller(ctx)
    check_equal((w.reg_values(SHARED) or {}).get(sys_win), ("REG_DWORD", "0x1"),
                "shared count of the system file waiting for the restart")
    w.reg_delete(SHARED, sys_win)
    w.reg_delete(PENDING_KEY, "PendingFileRenameOperations")
    for path in (sys_host, sys_host[:-4] + ".$$A"):
        remove(path)


def case_replaced_while_held(ctx):
    """Existing files that other programs hold open. With delete sharing (a
    virus scanner, an indexer) each is moved aside, the new file takes its
    place (a read-only one stays read-only) and the moved file goes when the
    holder lets go; no restart is needed. A library that a running program has
    loaded can be renamed but not deleted: the new library is in place at
    once and the old one, moved aside, is deleted at the next start of
    Windows, so the exit code says that a restart is needed."""
    w = ctx.wine
    # Both names share their temporary names: the second file moved aside
    # passes over the first, which waits for its holder.
    build_plain_package(ctx, "E2E Held", [
        ("src/a.txt", text_data(20000, 33), ""),
        ("src/a.ini", b"new read-only\r\n", ""),
    ])
    os.makedirs(ctx.install)
    for name in ("a.txt", "a.ini"):
        with open(os.path.join(ctx.install, name), "wb") as f:
            f.write(b"old " + name.encode())
    os.chmod(os.path.join(ctx.install, "a.ini"), 0o444)
    rc = _run_held(ctx, [ctx.install_win + "\\a.txt", ctx.install_win + "\\a.ini"], "delete")
    check_equal(rc, 0, "exit code with delete sharing")
    check_equal(read(os.path.join(ctx.install, "a.txt")), text_data(20000, 33), "a.txt")
    check_equal(read(os.path.join(ctx.install, "a.ini")), b"new read-only\r\n", "a.ini")
    check(not os.stat(os.path.join(ctx.install, "a.ini")).st_mode & 0o222,
          "the replaced read-only file lost its attribute")
    check_no_copies(ctx.install)
    check_equal(read(os.path.join(ctx.install, "Uninstall.exe")),
                uninstaller_bytes(IMAGE, b"", [(".", "a.txt", 0), (".", "a.ini", 0)]),
                "the uninstaller")

    old = read(ctx.helper("version_1_5.dll"))
    new = read(ctx.helper("version_2_0.dll"))
    remove(ctx.install)
    os.makedirs(ctx.install)
    target = os.path.join(ctx.install, "lib.dll")
    with open(target, "wb") as f:
        f.write(old)
    build_plain_package(ctx, "E2E Held", [("lib.dll", new, "")])
    w.reg_delete(PENDING_KEY, "PendingFileRenameOperations")
    let_go = ctx.hold(ctx.install_win + "\\lib.dll", "load")
    try:
        rc = ctx.run_setup()
        # Asked while the holder keeps the prefix running: a new start of
        # the prefix carries out the pending operations.
        pending = (w.reg_values(PENDING_KEY) or {}).get("PendingFileRenameOperations")
    finally:
        let_go()
    check_equal(rc, 254, "exit code with a loaded library (restart needed, -2)")
    check_equal(read(target), new, "the loaded library's place")
    # The copy was lib.$$A, so the old library went to the next free name.
    check_equal(temp_copies(ctx.install), [os.path.join(ctx.install, "lib.$$B")],
                "files left beside the library")
    check_equal(read(os.path.join(ctx.install, "lib.$$B")), old, "the library moved aside")
    # Source and destination by turns; a deletion has an empty destination.
    items = pending[1].lower().split("\\0") if pending else []
    aside = "\\??\\" + ctx.install_win.lower() + "\\lib.$$b"
    check((aside, "") in list(zip(items[0::2], items[1::2])),
          "no deletion of the moved library at the restart: %r" % (pending,))
    w.reg_delete(PENDING_KEY, "PendingFileRenameOperations")


def case_folder_in_a_files_place(ctx):
    """A folder where a file is to go cannot be replaced: code 22, the folder
    and what is in it stay, no copy is left."""
    build_plain_package(ctx, "E2E Folder In Place", [
        ("src/a.txt", b"first\r\n", ""),
        ("src/b.txt", b"second\r\n", ""),
    ])
    os.makedirs(os.path.join(ctx.install, "b.txt"))
    with open(os.path.join(ctx.install, "b.txt", "inside.txt"), "wb") as f:
        f.write(b"inside")
    check_equal(ctx.run_setup(), 22, "exit code")
    check_equal(read(os.path.join(ctx.install, "a.txt")), b"first\r\n", "the file before it")
    check_equal(read(os.path.join(ctx.install, "b.txt", "inside.txt")), b"inside",
                "the folder's contents")
    check_no_copies(ctx.install)
    uninstaller = os.path.join(ctx.install, "Uninstall.exe")
    check(not os.path.exists(uninstaller) or read(uninstaller)[-8:] != header(0x7F7F, 2, 0),
          "a failed installation completed its uninstaller")


def case_versions(ctx):
    """Version check in a silent run: a newer existing library is kept without
    a question, an older one and one of the same version (in another
    language) are replaced."""
    w = ctx.wine
    old = read(ctx.helper("version_1_5.dll"))
    new = read(ctx.helper("version_2_0.dll"))
    p = ctx.project
    p.file("uninstaller.bin", IMAGE)
    shutil.copy(ctx.helper("version_1_5.dll"), os.path.join(ctx.work, "older.dll"))
    shutil.copy(ctx.helper("version_2_0.dll"), os.path.join(ctx.work, "newer.dll"))
    p.build(project_head("E2E Versions") + f"""
[[group]]
folder = {q(ctx.install_win)}
[[group.file]]
source = "older.dll"
name = "kept.dll"
version = "file"
[[group.file]]
source = "newer.dll"
name = "replaced.dll"
version = "file"
[[group.file]]
source = "newer.dll"
name = "equal.dll"
version = "2.0.0.0"
language = 0x407
""")
    os.makedirs(ctx.install)
    with open(os.path.join(ctx.install, "equal.dll"), "wb") as f:
        f.write(new + b"\0")
    with open(os.path.join(ctx.install, "kept.dll"), "wb") as f:
        f.write(new)
    with open(os.path.join(ctx.install, "replaced.dll"), "wb") as f:
        f.write(old)
    check_equal(ctx.run_setup(), 0, "exit code")
    check_equal(read(os.path.join(ctx.install, "kept.dll")), new, "newer existing library")
    check_equal(read(os.path.join(ctx.install, "replaced.dll")), new, "older existing library")
    # Equal versions replace; a silent run does not look at the language.
    check_equal(read(os.path.join(ctx.install, "equal.dll")), new, "library of the same version")
    check_no_copies(ctx.install)


# ---------------------------------------------------------------- damaged data


def _damaged_setups(ctx):
    """A good file and a file whose stored stream was changed in one byte:
    once with a valid stream (inflates to other bytes: size/checksum check)
    and once with a broken one (the stream's own check fails)."""
    p = ctx.project
    p.file("uninstaller.bin", IMAGE)
    good = text_data(10000, 41)
    data = text_data(30000, 42)
    p.file("src/good.txt", good)
    p.file("src/d.txt", data)
    name = "Setrun E2E Damaged"
    setup = p.build(project_head("E2E Damaged") + f"""
[[group]]
name = {q(name)}
folder = {q(ctx.install_win)}
flags = ["uninstall_entry"]
uninstaller = "Uninstall.exe"
[[group.file]]
source = "src/good.txt"
[[group.file]]
source = "src/d.txt"
""")
    raw = read(setup)
    area, entries = stream_positions(p.inspect(setup), raw)
    offset, packed = entries["d.txt"]
    damaged = bytearray(data)
    damaged[12345] ^= 0x55
    with open(os.path.join(ctx.work, "damaged.exe"), "wb") as f:
        f.write(patch_stored_stream(raw, area + offset, packed, 12345, damaged[12345], True))
    with open(os.path.join(ctx.work, "corrupt.exe"), "wb") as f:
        f.write(patch_stored_stream(raw, area + offset, packed, 12345, damaged[12345], False))
    return name, good, data, bytes(damaged)


def case_damaged_data(ctx):
    """Wrong size or checksum after a good inflate: kept silently with /R;
    otherwise the question comes even in a silent run: Yes keeps the file,
    No stops with code 21 and leaves nothing behind."""
    w = ctx.wine
    name, good, data, damaged = _damaged_setups(ctx)
    target = os.path.join(ctx.install, "d.txt")
    target_win = ctx.install_win + "\\d.txt"

    w.reg_delete(UNINSTALL + name)
    check_equal(ctx.run_setup("damaged.exe", "/R"), 0, "exit code with /R")
    check_equal(read(target), damaged, "damaged file kept with /R")
    check_no_copies(ctx.install)

    remove(ctx.install)
    finish = ctx.answer_boxes("E2E Damaged", "6")
    rc = ctx.run_setup("damaged.exe")
    box_rc, texts = finish()
    check_equal(box_rc, 0, "the damaged-file question was not shown")
    check_equal(texts.strip(), f"The file {target_win} is damaged. Do you want to keep it anyway?",
                "question")
    check_equal(rc, 0, "exit code after Yes")
    check_equal(read(target), damaged, "damaged file kept after Yes")
    check_no_copies(ctx.install)

    remove(ctx.install)
    w.reg_delete(UNINSTALL + name)
    finish = ctx.answer_boxes("E2E Damaged", "7")
    rc = ctx.run_setup("damaged.exe")
    box_rc, texts = finish()
    check_equal(box_rc, 0, "the damaged-file question was not shown")
    check_equal(rc, 21, "exit code after No")
    check(not os.path.exists(target), "the damaged file stayed after No")
    check_equal(read(os.path.join(ctx.install, "good.txt")), good, "the file before it")
    check_no_copies(ctx.install)
    check(w.reg_values(UNINSTALL + name) is None, "a failed installation was registered")


def case_corrupt_stream(ctx):
    """A stream that fails its own check: code 31, the file is not there, no
    copies, nothing registered."""
    w = ctx.wine
    name, good, data, damaged = _damaged_setups(ctx)
    w.reg_delete(UNINSTALL + name)
    check_equal(ctx.run_setup("corrupt.exe", "/R"), 31, "exit code")
    check(not os.path.exists(os.path.join(ctx.install, "d.txt")), "the corrupt file was installed")
    check_equal(read(os.path.join(ctx.install, "good.txt")), good, "the file before it")
    check_no_copies(ctx.install)
    check(w.reg_values(UNINSTALL + name) is None, "a failed installation was registered")


def case_incomplete_package(ctx):
    """A program file cut inside its file data: -1 (255) and nothing
    installed; silently without a message, with /V after the incomplete-data
    message."""
    name, good, data, damaged = _damaged_setups(ctx)
    raw = read(os.path.join(ctx.work, "setup.exe"))
    with open(os.path.join(ctx.work, "cut.exe"), "wb") as f:
        f.write(raw[:-100])
    check_equal(ctx.run_setup("cut.exe"), 255, "exit code of a silent run")
    check(not os.path.exists(ctx.install), "an incomplete package installed something")
    finish = ctx.answer_boxes("E2E Damaged", "1")
    rc = ctx.run_setup("cut.exe", "/V")
    box_rc, texts = finish()
    check_equal(box_rc, 0, "the incomplete-data message was not shown")
    check_equal(texts.strip(), "The setup data is incomplete or damaged.", "message")
    check_equal(rc, 255, "exit code with /V")
    check(not os.path.exists(ctx.install), "an incomplete package installed something")


def case_data_source_taken_away(ctx):
    """Another program takes the installer file for itself after the package
    was read, while the installation prepares (it waits for the installation
    folder to appear; thousands of entries to look at give it time): the data
    cannot be opened, code 16, nothing is installed or registered."""
    w, p = ctx.wine, ctx.project
    p.file("uninstaller.bin", IMAGE)
    p.file("src/a.txt", b"data\r\n")
    p.file("src/empty.txt", b"")
    entries = "".join(f"[[group.file]]\nsource = \"src/empty.txt\"\nname = \"e\\\\{i:05d}.txt\"\n"
                      "flags = [\"only_if_absent\"]\n" for i in range(ENTRIES_BEFORE_DATA))
    name = "Setrun E2E Data Source"
    w.reg_delete(UNINSTALL + name)
    p.build(project_head("E2E Data Source") + f"""
[[group]]
name = {q(name)}
folder = {q(ctx.install_win)}
flags = ["uninstall_entry"]
uninstaller = "Uninstall.exe"
[[group.file]]
source = "src/a.txt"
{entries}""")
    ready = ctx.work_win + "\\held.txt"
    release = ctx.work_win + "\\release.txt"
    holder = w.start(ctx.helper("hold_file.exe"), ctx.setup_win(), "none", ready, release,
                     ctx.install_win)
    end = time.monotonic() + 60
    while not (os.path.exists(w.host(ready)) and read(w.host(ready)) == b"waiting"):
        check(time.monotonic() < end and holder.poll() is None, "the helper did not start")
        time.sleep(0.02)
    try:
        start = time.monotonic()
        rc = ctx.run_setup()
        took = time.monotonic() - start
    finally:
        open(w.host(release), "wb").close()
        holder.wait(60)
    check_equal(read(w.host(ready)), b"held", "the helper's hold on the installer")
    check_equal(rc, 16, "exit code (run took %.2f s)" % took)
    check(not os.path.exists(os.path.join(ctx.install, "a.txt")), "a.txt was installed")
    check(not os.path.exists(os.path.join(ctx.install, "Uninstall.exe")), "an uninstaller was written")
    check_no_copies(ctx.install)
    check(w.reg_values(UNINSTALL + name) is None, "a failed installation was registered")


ENTRIES_BEFORE_DATA = 5000


# ---------------------------------------------------------------- integration

COMPONENTS = "HKCU\\Software\\SetrunTest\\Components"
RUN_ONCE = "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce"
FONTS = "HKLM\\Software\\Microsoft\\Windows NT\\CurrentVersion\\Fonts"
DEJAVU = "/usr/share/fonts/truetype/dejavu/"


def _history(w, name):
    """The calls of the test component named name (tests/install/component_dll.c)."""
    value = (w.reg_values(COMPONENTS) or {}).get(name + ".history")
    return value[1] if value else None


def case_shortcuts(ctx):
    """A program's Start-menu shortcut with the builder's defaults (a folder
    named after the product, the program's own icon), a desktop shortcut with
    arguments that name the installation folder and a maximised window, and
    a document's shortcut in two folders, one of them the Programs folder
    itself: the link files where the user's shell folders are, read back
    from their bytes, and the shortcut record in the uninstaller between the
    file log and the registry entries."""
    w = ctx.wine
    title = "Setrun E2E Shortcuts " + ctx.name[-3:]
    user = "C:\\users\\" + w.user()
    programs = user + "\\AppData\\Roaming\\Microsoft\\Windows\\Start Menu\\Programs"
    desktop = user + "\\Desktop"
    places = [programs + "\\" + title, programs + "\\Docs " + title, programs + "\\E2E " + title +
              ".lnk", desktop + "\\Run " + title + ".lnk"]
    for place in places:
        remove(w.find_host(place))
    registry = header(0x1237, 0, 4) + b"KEY\0"
    # The group's registry entries show where the shortcut record goes.
    build_plain_package(ctx, title, [
        ("app.exe", b"MZ program of the shortcut test", "shortcut = true\n"
         f"desktop_shortcut = {{ name = \"Run {title}.lnk\", args = \"--home \\\"#InstallDir#\\\"\", "
         "window = \"maximised\" }\n"),
        ("readme.txt", b"read me\r\n",
         f"shortcut = {{ folder = [\"Docs {title}\", \"\"], name = \"E2E {title}.lnk\", "
         "window = \"minimised\", icon = \"app.exe\", icon_index = 2 }\n"),
    ], group=f"registry_entries_hex = \"{registry.hex()}\"\n")
    check_equal(ctx.run_setup(), 0, "exit code")
    app = ctx.install_win + "\\app.exe"
    links = {
        places[0] + "\\app.lnk": {"target": app, "arguments": "", "folder": ctx.install_win,
                                   "icon": app, "icon_index": 0, "show": 1},
        places[3]: {"target": app, "arguments": "--home \"" + ctx.install_win + "\"",
                    "folder": ctx.install_win, "icon": app, "icon_index": 0, "show": 3},
        places[1] + "\\E2E " + title + ".lnk": {
            "target": ctx.install_win + "\\readme.txt", "arguments": "", "folder": ctx.install_win,
            "icon": app, "icon_index": 2, "show": 7},
    }
    links[places[2]] = links[places[1] + "\\E2E " + title + ".lnk"]
    for place, expected in links.items():
        path = w.find_host(place)
        check(os.path.exists(path), "no shortcut " + place)
        got = read_link(path)
        for field, value in expected.items():
            check_equal(got[field].lower() if isinstance(value, str) else got[field],
                        value.lower() if isinstance(value, str) else value,
                        field + " of " + place)
    record = shortcut_record([(0, places[0], "", "app.lnk"), (0, desktop, "", "Run " + title + ".lnk"),
                              (0, programs, "", "E2E " + title + ".lnk"),
                              (0, places[1], "", "E2E " + title + ".lnk")])
    check_equal(read(os.path.join(ctx.install, "Uninstall.exe")),
                uninstaller_bytes(IMAGE, b"", [(".", "app.exe", 0), (".", "readme.txt", 0)],
                                  registry, record),
                "the uninstaller")
    for place in places:
        remove(w.find_host(place))


def case_fonts(ctx):
    """A TrueType font from Debian's fonts installed into the fonts folder:
    registered under the Fonts key with the full name from its "name" table,
    logged with the absolute fonts folder and log flag 0x2; then another font
    under the same file name replaces it (not logged: the file was there
    before), and the old name leaves the key.
    The key is one for 32-bit and 64-bit programs."""
    w, p = ctx.wine, ctx.project
    for font in ("DejaVuSans.ttf", "DejaVuSerif.ttf"):
        check(os.path.exists(DEJAVU + font), DEJAVU + font + " is missing: install fonts-dejavu-core")
    name = ctx.name + ".ttf"
    fonts_win = "C:\\windows\\Fonts"
    target = w.find_host(fonts_win + "\\" + name)
    # Wine registers the host's fonts under the same names: put back after.
    before = w.reg_values(FONTS) or {}
    saved = {n: before.get(n) for n in ("DejaVu Sans (TrueType)", "DejaVu Serif (TrueType)")}
    remove(target)
    try:
        for n in saved:
            w.reg_delete(FONTS, n)
        for font, full, other in (("DejaVuSans.ttf", "DejaVu Sans (TrueType)", None),
                                  ("DejaVuSerif.ttf", "DejaVu Serif (TrueType)",
                                   "DejaVu Sans (TrueType)")):
            build_plain_package(ctx, "E2E Fonts", [
                ("src/" + font, read(DEJAVU + font), f"name = {q(name)}\nfont = true\n")])
            check_equal(ctx.run_setup(), 0, "exit code")
            check_equal(read(target), read(DEJAVU + font), "the font in " + fonts_win)
            values = w.reg_values(FONTS, raw=True) or {}
            check_equal(values.get(full), ("REG_SZ", name), full)
            if other:
                check(other not in values, other + " is still registered")
            # A font that was there before stays when the product goes: it is
            # not logged.
            check_equal(read(os.path.join(ctx.install, "Uninstall.exe")),
                        uninstaller_bytes(IMAGE, b"", [] if other else [(fonts_win, name, 2)]),
                        "the uninstaller")
    finally:
        remove(target)
        for n, value in saved.items():
            w.reg_delete(FONTS, n)
            if value:
                w.reg_add(FONTS, n, value[0], value[1])


def case_components(ctx):
    """Components registered through their entry points (the test library
    of tests/install/component_dll.c): the second version unregisters the
    first before it replaces it; one that fails inside DllRegisterServer ends
    only its own registration; a registry script is imported. A component in
    the system folder that is loaded by another program waits for the next
    start: the old version is unregistered at once, a RunOnce command names
    the new one as every program sees it (on 64-bit Windows the 32-bit
    program's system folder is syswow64), and Wine's restart (wineboot -r)
    moves it into place and registers it."""
    w, p = ctx.wine, ctx.project
    comp, fault, system = ctx.name + ".dll", ctx.name + "-fault.dll", ctx.name + "-sys.dll"
    sys_win = "C:\\windows\\system32\\" + system
    script_key = "HKCU\\Software\\SetrunTest\\Script " + ctx.name
    for n in (comp, fault, system):
        w.reg_delete(COMPONENTS, n)
        w.reg_delete(COMPONENTS, n + ".history")
    w.reg_delete(script_key)
    for n in w.reg_values(RUN_ONCE) or {}:
        if n.startswith("ZPLaunch"):
            w.reg_delete(RUN_ONCE, n)
    w.reg_delete(PENDING_KEY, "PendingFileRenameOperations")
    script = ("REGEDIT4\r\n\r\n[" + script_key.replace("HKCU", "HKEY_CURRENT_USER")
              + "]\r\n\"Value\"=\"imported\"\r\n").encode()

    def package(version, more=()):
        files = [("component_%s.dll" % version, read(ctx.helper("component_%s.dll" % version)),
                  f"name = {q(comp)}\nregister = true\n")]
        return build_plain_package(ctx, "E2E Components", files + list(more))
    package(1, [("component_fault.dll", read(ctx.helper("component_fault.dll")),
                 f"name = {q(fault)}\nregister = true\n"),
                ("settings.reg", script, "register = \"registry_script\"\n")])
    check_equal(ctx.run_setup(), 0, "exit code")
    check_equal(_history(w, comp), "+1", "calls of the first version")
    check_equal(_history(w, fault), "+9", "calls of the failing component")
    check_equal((w.reg_values(script_key) or {}).get("Value"), ("REG_SZ", "imported"),
                "the registry script's value")
    package(2)
    check_equal(ctx.run_setup(), 0, "exit code")
    check_equal(_history(w, comp), "+1 -1 +2", "calls of both versions")

    # In the system folder, and held by another program.
    def system_package(version):
        return build_plain_package(ctx, "E2E Components", [(
            "component_%s.dll" % version, read(ctx.helper("component_%s.dll" % version)),
            f"name = {q(system)}\ndestination = \"system\"\nregister = true\n")])
    sys_host = w.find_host(sys_win)
    remove(sys_host)
    system_package(1)
    check_equal(ctx.run_setup(), 0, "exit code")
    system_package(2)
    let_go = ctx.hold(sys_win, "load")
    try:
        check_equal(ctx.run_setup(), 254, "exit code (restart needed, -2)")
    finally:
        let_go()
    check_equal(_history(w, system), "+1 -1", "calls before the restart")
    real = w.redirect_path(sys_win)
    registrar = "C:\\windows\\syswow64\\regsvr32.exe" if w.redirected else "regsvr32"
    commands = {n: v for n, v in (w.reg_values(RUN_ONCE) or {}).items() if n.startswith("ZPLaunch")}
    check_equal(commands, {"ZPLaunch000": ("REG_SZ", registrar + " /s \"" + real + "\"")},
                "the RunOnce command")
    check_equal(w.run("wineboot", "-r"), 0, "exit code of wineboot -r")
    check_equal(read(sys_host), read(ctx.helper("component_2.dll")), "the system file after the restart")
    check_equal(_history(w, system), "+1 -1 +2", "calls after the restart")
    check((w.reg_values(RUN_ONCE) or {}).get("ZPLaunch000") is None, "the RunOnce command stayed")
    remove(sys_host)
    w.reg_delete(script_key)
    w.reg_delete(PENDING_KEY, "PendingFileRenameOperations")


DEMO_CLASS = "HKCR\\CLSID\\{6A0C5E43-1F2B-4D7A-9E38-5B61C0D2A7F4}"
DEMO_ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "examples", "demo")


def case_demo(ctx):
    """The demo of examples/demo as it ships (installed silently here), with
    the demo program and its component of the setup program's build: its
    files in the default folder below Program Files, the Start-menu shortcut
    to the program, the font
    registered under its own name, the component's class registered by its
    DllRegisterServer (in the 32-bit view for a 32-bit one), and the program
    started once after the installation (it counts its runs)."""
    w = ctx.wine
    folder = w.program_files + "\\Setrun Demo"
    user = "C:\\users\\" + w.user()
    link = user + "\\AppData\\Roaming\\Microsoft\\Windows\\Start Menu\\Programs\\Setrun Demo"
    font = "C:\\windows\\Fonts\\DejaVuSansMono.ttf"
    font_value = "DejaVu Sans Mono (TrueType)"
    check(os.path.exists(DEJAVU + "DejaVuSansMono.ttf"), "install fonts-dejavu-core")
    view = ["/reg:32"] if w.redirected else []

    def class_values(key):
        rc = w.run("reg", "query", key, *view)
        if rc != 0:
            return None
        with open(w.last_output, "rb") as f:
            text = f.read().decode("utf-8", "replace")
        return {m.group(1): m.group(3) for m in
                re.finditer(r"^    (.*?)    (REG_\w+)    ?(.*?)\r?$", text, re.M)}

    before = (w.reg_values(FONTS, raw=True) or {}).get(font_value)

    def clean():
        for place in (folder, link):
            remove(w.find_host(place))
        w.run("reg", "delete", DEMO_CLASS, "/f", *view)
        w.reg_delete("HKCU\\Software\\Setrun Demo")
        w.reg_delete("HKLM\\Software\\Setrun Demo")
    clean()
    remove(w.find_host(font))
    w.reg_delete(FONTS, font_value)
    try:
        # The demo's project and files, made silent: no window here.
        project = os.path.join(ctx.work, "demo")
        shutil.copytree(DEMO_ROOT, project)
        with open(os.path.join(project, "project.toml"), encoding="utf-8") as f:
            text = f.read()
        check("[layout]" not in text and "[defines]" in text, "the demo's project changed its form")
        with open(os.path.join(project, "project.toml"), "w", encoding="utf-8") as f:
            f.write(text.replace("[defines]", "[layout]\nflags = [\"silent\"]\n\n[defines]", 1))
        setup = os.path.join(ctx.work, "demo-setup.exe")
        build = subprocess.run(
            [ctx.project.setrunc, "build", os.path.join(project, "project.toml"), "-o", setup,
             "--stub", ctx.stub, "-q", "-D", "HELLO=" + ctx.helper("demo_hello.exe"),
             "-D", "GREETING=" + ctx.helper("demo_greeting.dll")],
            stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=300)
        check(build.returncode == 0, "the demo does not build: " + build.stdout.decode(errors="replace"))
        check_equal(ctx.run_setup("demo-setup.exe"), 0, "exit code")
        for name in ("hello.exe", "greeting.dll", "readme.txt", "licence.txt"):
            check(os.path.exists(w.find_host(folder + "\\" + name)), name + " is not in " + folder)
        hello = folder + "\\hello.exe"
        got = read_link(w.find_host(link + "\\Hello.lnk"))
        for field, value in (("target", hello), ("folder", folder), ("icon", hello),
                             ("arguments", "")):
            check_equal(got[field].lower(), value.lower(), field + " of the demo's shortcut")
        check_equal(read(w.find_host(font)), read(DEJAVU + "DejaVuSansMono.ttf"), "the demo's font")
        check_equal((w.reg_values(FONTS, raw=True) or {}).get(font_value),
                    ("REG_SZ", "DejaVuSansMono.ttf"), font_value)
        check_equal((class_values(DEMO_CLASS + "\\InprocServer32") or {}).get("(Default)", "").lower(),
                    (folder + "\\greeting.dll").lower(), "the component's registration")
        check_equal((w.reg_values("HKCU\\Software\\Setrun Demo") or {}).get("Runs"),
                    ("REG_DWORD", "0x1"), "runs of the demo program")
    finally:
        clean()
        remove(w.find_host(font))
        w.reg_delete(FONTS, font_value)
        if before:
            w.reg_add(FONTS, font_value, before[0], before[1])


GROUPS = {
    "files": [case_files_folders_attributes_and_registration, case_earlier_installation_folder,
              case_uninstaller_in_a_subfolder, case_destinations, case_machine_wide_places],
    "packages": [case_data_volumes, case_package_named_on_the_command_line,
                 case_package_named_relative_to_the_current_folder, case_install_folder_is_a_file,
                 case_sixteen_groups_forced_group, case_append_uninstaller],
    "existing": [case_only_if_absent_and_read_only, case_locked_identical, case_locked_different,
                 case_replaced_while_held, case_folder_in_a_files_place, case_versions],
    "integration": [case_shortcuts, case_fonts, case_components, case_demo],
    "damaged": [case_damaged_data, case_corrupt_stream, case_incomplete_package,
                case_data_source_taken_away],
}

# The programs a setup program starts, its relaunch and the continuation run.
from run_cases import RUN_GROUPS  # noqa: E402

GROUPS.update(RUN_GROUPS)
