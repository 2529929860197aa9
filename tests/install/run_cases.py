"""Installation cases of the programs a setup program starts: the run
entries of each phase (programs, a Windows Installer package, a document,
the screen saver), the relaunch through RunOnce for what waits for a
restart and Wine's own restart running it, and the relaunch from a CD-ROM
drive. The programs started are copies of run_recorder.exe, which appends
each start to C:\\setrun-recorder.log."""

import contextlib
import glob
import json
import os
import shutil
import subprocess
import time

from harness import Failure, check, check_equal, read, remove, stream_positions

RUNONCE = "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce"
PENDING_KEY = "HKLM\\System\\CurrentControlSet\\Control\\Session Manager"
OVERRIDES = "HKCU\\Software\\Wine\\DllOverrides"
LOG_WIN = "C:\\setrun-recorder.log"


def q(text):
    """A TOML basic string."""
    return json.dumps(text)


def silent_head(title):
    return f'title = "{title}"\ncompression = 0\n[layout]\nflags = ["silent"]\n'


def recorder_source(ctx, name="rec.exe"):
    """The recorder in the work folder, as a project source."""
    shutil.copy(ctx.helper("run_recorder.exe"), os.path.join(ctx.work, name))
    return name


class Log:
    """The recorder's log: lines (name, command line, folder)."""

    def __init__(self, wine):
        self.path = wine.host(LOG_WIN)
        remove(self.path)

    def lines(self):
        if not os.path.exists(self.path):
            return []
        out = []
        for line in read(self.path).decode("cp1252").split("\r\n"):
            if line:
                name, rest = line.split("|", 1)
                command, _, folder = rest.rpartition("|") if rest != "end" else (rest, "", "")
                out.append((name.lower(), command, folder))
        return out

    def names(self):
        return [n for n, _, _ in self.lines()]

    def wait_for(self, count, timeout=120):
        """The lines once there are `count` of them (programs started
        without waiting log on their own time)."""
        end = time.time() + timeout
        while len(self.lines()) < count and time.time() < end:
            time.sleep(0.1)
        return self.lines()

    def command_of(self, name):
        for n, command, _ in self.lines():
            if n == name:
                return command
        raise Failure("%s was not started; the log holds %r" % (name, self.names()))


@contextlib.contextmanager
def intercepted(ctx, programs):
    """The system's programs of these names give way to the recorder (Wine
    runs the file when told to prefer native programs of the name); put back
    afterwards."""
    w = ctx.wine
    saved = []
    try:
        for name in programs:
            host = w.find_host("C:\\windows\\system32\\" + name)
            backup = os.path.join(ctx.work, name + ".saved")
            shutil.copy(host, backup)
            saved.append((host, backup, name))
            shutil.copy(ctx.helper("run_recorder.exe"), host)
            w.reg_add(OVERRIDES, name, "REG_SZ", "native")
        yield
    finally:
        for host, backup, name in saved:
            shutil.copy(backup, host)
            w.reg_delete(OVERRIDES, name)


@contextlib.contextmanager
def document_type(ctx, extension, program_win):
    """Files with `extension` open with `program_win` (both registry views)."""
    w = ctx.wine
    keys = ["HKCR\\", w.redirect_key("HKLM\\Software\\Classes\\")]

    def default_value(key, value):
        check_equal(w.run("reg", "add", key, "/ve", "/d", value, "/f"), 0, "reg add " + key)
    try:
        for root in keys:
            default_value(root + extension, "SetrunE2E.Document")
            default_value(root + "SetrunE2E.Document\\shell\\open\\command",
                          '"%s" "%%1"' % program_win)
        yield
    finally:
        for root in keys:
            w.reg_delete(root + extension, raw=True)
            w.reg_delete(root + "SetrunE2E.Document", raw=True)


def runonce_launches(w):
    """The RunOnce values the setup program wrote, {name: command}."""
    values = w.reg_values(RUNONCE) or {}
    return {n: v for n, (_, v) in values.items() if n.lower().startswith("zplaunch")}


def clear_runonce(w):
    for name in runonce_launches(w):
        w.reg_delete(RUNONCE, name)


def pending_operations(w):
    values = w.reg_values(PENDING_KEY) or {}
    pending = values.get("PendingFileRenameOperations")
    if pending is None:
        return []
    items = [i.lower() for i in pending[1].split("\\0")]
    # An empty target (a deletion) shows as two separators in a row.
    pairs, i = [], 0
    while i + 1 < len(items):
        pairs.append((items[i], items[i + 1]))
        i += 2
    return pairs


def relaunch_copies(w):
    """The relaunch copies in the user's temporary folder (host paths)."""
    return sorted(glob.glob(os.path.join(w.drive_c, "users", "*", "**", "_inst*.exe"),
                            recursive=True))


def tables_end(ctx, setup):
    """Bytes of the program file up to and including its data length word."""
    area, _ = stream_positions(ctx.project.inspect(setup), read(setup))
    return area


# ------------------------------------------------------------------- cases


def case_programs_documents_and_the_installer(ctx):
    """A silent installation starts its run entries in their phases: a
    program at the end of the file phase (arguments with folder variables,
    its folder as the current one), programs after the setup and at launch
    (waited for, in order), a ".msi" package through the system's msiexec,
    a document through its association, and the screen saver through
    rundll32. With /N the launch programs are left out."""
    w, p = ctx.wine, ctx.project
    rec = recorder_source(ctx)
    p.file("pkg.msi", b"not really a package")
    p.file("notes.srdoc", b"a document")
    p.file("saver.scr", b"a screen saver")
    setup = p.build(silent_head("E2E Runs") + f"""
[[group]]
folder = {q(ctx.install_win)}
[[group.file]]
source = "{rec}"
name = "first.exe"
run = {{ when = "install", wait = true, args = "#InstallDir#\\\\data --x" }}
[[group.file]]
source = "{rec}"
name = "Sub Folder\\\\later.exe"
run = {{ when = "after_setup", wait = true }}
[[group.file]]
source = "pkg.msi"
run = {{ when = "after_setup", wait = true, args = "/qb" }}
[[group.file]]
source = "notes.srdoc"
run = "after_setup"
[[group.file]]
source = "{rec}"
name = "launch.exe"
run = {{ when = "launch", wait = true }}
[[group.file]]
source = "saver.scr"
screen_saver = true
""")
    association = ctx.work_win + "\\assoc.exe"
    recorder_source(ctx, "assoc.exe")
    inst = ctx.install_win
    with intercepted(ctx, ["msiexec.exe", "rundll32.exe"]), document_type(ctx, ".srdoc", association):
        for switches, launched in (([], True), (["/N"], False)):
            log = Log(w)
            check_equal(ctx.run_setup("setup.exe", *switches), 0, "exit code %r" % switches)
            expected = ["first.exe", "later.exe", "msiexec.exe", "assoc.exe", "rundll32.exe"]
            if launched:
                expected.append("launch.exe")
            lines = log.wait_for(len(expected))
            names = [n for n, _, _ in lines]
            check_equal(sorted(names), sorted(expected), "programs started with %r" % switches)
            # The programs waited for, in their order (the document and the
            # screen saver start without being waited for).
            waited = [n for n in names if n in ("first.exe", "later.exe", "msiexec.exe",
                                                "launch.exe")]
            check_equal(waited, [n for n in expected if n in waited], "order of the waited programs")
            check_equal(log.command_of("first.exe"),
                        f'"{inst}\\first.exe" {inst}\\data --x', "command line of first.exe")
            check_equal(lines[names.index("first.exe")][2].lower(), inst.lower(),
                        "current folder of first.exe")
            check_equal(lines[names.index("later.exe")][2].lower(), (inst + "\\Sub Folder").lower(),
                        "current folder of later.exe")
            check_equal(log.command_of("msiexec.exe"),
                        f'"C:\\windows\\system32\\msiexec.exe" /i "{inst}\\pkg.msi" /qb',
                        "command line of msiexec")
            check_equal(log.command_of("rundll32.exe"),
                        f'"C:\\windows\\system32\\rundll32.exe" desk.cpl,InstallScreenSaver '
                        f'{inst}\\saver.scr', "command line of the screen saver")
            opened = log.command_of("assoc.exe")
            check(opened.startswith(f'"{association}" '), "document opened by: " + opened)


def case_restart_continuation(ctx):
    """A file in use makes the installation wait for a restart (-2): the
    program of the end of the file phase runs at once; the deferred one,
    the one after the setup and the launch program wait. A copy of the
    program up to its data length word and a RunOnce value /B1 /DEL stand
    ready. Wine's own restart then puts the file in place and starts the
    copy, which runs the waiting programs and has itself deleted at the
    next restart."""
    w, p = ctx.wine, ctx.project
    rec = recorder_source(ctx)
    data = b"new contents of the locked file\r\n" * 100
    p.file("lock.dat", data)
    setup = p.build(silent_head("E2E Restart") + f"""
[[group]]
folder = {q(ctx.install_win)}
[[group.file]]
source = "lock.dat"
[[group.file]]
source = "{rec}"
name = "now.exe"
run = {{ when = "install", wait = true }}
[[group.file]]
source = "{rec}"
name = "deferred.exe"
run = {{ when = "install", wait = true, wait_for_restart = true }}
[[group.file]]
source = "{rec}"
name = "after.exe"
run = {{ when = "after_setup", wait = true }}
[[group.file]]
source = "{rec}"
name = "launch.exe"
run = {{ when = "launch", wait = true }}
""")
    lock_win = ctx.install_win + "\\lock.dat"
    os.makedirs(ctx.install)
    with open(w.host(lock_win), "wb") as f:
        f.write(b"old contents")
    clear_runonce(w)
    w.reg_delete(PENDING_KEY, "PendingFileRenameOperations")
    copies_before = relaunch_copies(w)
    log = Log(w)
    let_go = ctx.hold(lock_win, "none")
    try:
        rc = ctx.run_setup()
    finally:
        let_go()
    check_equal(rc, 254, "exit code (restart needed, -2)")
    check_equal(log.names(), ["now.exe"], "programs started before the restart")

    launches = runonce_launches(w)
    check_equal(len(launches), 1, "RunOnce values %r" % launches)
    command = list(launches.values())[0]
    check(command.startswith('"') and command.endswith('" /B1 /DEL'),
          "RunOnce command: " + command)
    copy_win = command[1:command.index('"', 1)]
    new_copies = [c for c in relaunch_copies(w) if c not in copies_before]
    check_equal(len(new_copies), 1, "relaunch copies made")
    check(new_copies[0].lower().endswith(copy_win.split("\\")[-1].lower()),
          "the RunOnce command names %s, the copy is %s" % (copy_win, new_copies[0]))
    check_equal(read(new_copies[0]), read(setup)[:tables_end(ctx, setup)],
                "the copy: the program up to its data length word")
    check(any(src.endswith("\\lock.$$a") and dst.endswith("\\lock.dat")
              for src, dst in pending_operations(w)), "the locked file's move is not pending")

    # Wine's restart: pending moves, then the RunOnce values.
    check_equal(w.run("wineboot", "-r", timeout=300), 0, "exit code of wineboot -r")
    log.wait_for(4)
    check_equal(log.names(), ["now.exe", "deferred.exe", "after.exe", "launch.exe"],
                "programs started before and after the restart")
    check_equal(read(w.host(lock_win)), data, "the locked file after the restart")
    check_equal(runonce_launches(w), {}, "RunOnce values after the restart")
    # The continuation run has its copy deleted at the next restart.
    end = time.time() + 60
    while time.time() < end and not any(
            src.endswith(copy_win.lower()) and dst == "" for src, dst in pending_operations(w)):
        time.sleep(0.2)
    check(any(src.endswith(copy_win.lower()) and dst == "" for src, dst in pending_operations(w)),
          "the copy is not deleted at the next restart: %r" % pending_operations(w))
    for c in new_copies:
        remove(c)
    w.reg_delete(PENDING_KEY, "PendingFileRenameOperations")


def case_removable_media(ctx):
    """Started from a CD-ROM drive, the program copies itself (up to the
    data length word) to the temporary folder, starts the copy with
    /S"<the program on the CD>" /DEL and ends with 0; the copy installs with
    the file data read from the CD and has itself deleted at the next
    restart."""
    w, p = ctx.wine, ctx.project
    rec = recorder_source(ctx)
    payload = os.urandom(150000)
    p.file("payload.bin", payload)
    setup = p.build(silent_head("E2E Media") + f"""
[[group]]
folder = {q(ctx.install_win)}
[[group.file]]
source = "payload.bin"
[[group.file]]
source = "{rec}"
name = "done.exe"
run = {{ when = "after_setup", wait = true }}
""")
    cd = os.path.join(ctx.work, "cd")
    os.makedirs(cd)
    shutil.copy(setup, os.path.join(cd, "setup.exe"))
    link = os.path.join(w.prefix, "dosdevices", "r:")
    drives = ["reg", "add", "HKLM\\Software\\Wine\\Drives", "/v", "r:", "/d", "cdrom", "/f"]
    copies_before = relaunch_copies(w)
    w.reg_delete(PENDING_KEY, "PendingFileRenameOperations")
    log = Log(w)
    try:
        remove(link)
        os.symlink(cd, link)
        check_equal(w.run(*drives), 0, "adding the CD-ROM drive")
        # Wine reads the kinds of its drives when it starts.
        subprocess.run(["/usr/lib/wine/wineserver", "-w"], env=dict(w.env, WINEPREFIX=w.prefix),
                       timeout=120)
        check_equal(w.run("R:\\setup.exe"), 0, "exit code of the program on the CD")
        check_equal([n for n, _, _ in log.wait_for(1)], ["done.exe"], "the copy's run")
    finally:
        w.run("reg", "delete", "HKLM\\Software\\Wine\\Drives", "/v", "r:", "/f")
        remove(link)
    check_equal(read(os.path.join(ctx.install, "payload.bin")), payload, "payload.bin")
    new_copies = [c for c in relaunch_copies(w) if c not in copies_before]
    check_equal(len(new_copies), 1, "relaunch copies made")
    check_equal(read(new_copies[0]), read(setup)[:tables_end(ctx, setup)],
                "the copy: the program up to its data length word")
    name = os.path.basename(new_copies[0]).lower()
    check(any(src.endswith("\\" + name) and dst == "" for src, dst in pending_operations(w)),
          "the copy is not deleted at the next restart: %r" % pending_operations(w))
    w.reg_delete(PENDING_KEY, "PendingFileRenameOperations")
    for c in new_copies:
        remove(c)


RUN_GROUPS = {
    "runs": [case_programs_documents_and_the_installer, case_restart_continuation,
             case_removable_media],
}
