#!/usr/bin/env python3
"""Whole installations through the setup program's wizard under Wine, worked
by the test driver (wizard_driver.exe) as a user would: every page kind,
Back, Next and Cancel with its question, the licence rule, the folder page,
Cancel while a file is decompressed, the finish page after success and
failure, a forced page, installing behind the scenes and without a finish
page, the restart question, the close boxes, the single-instance hand-over,
a damaged page layout and the layout at 144 DPI.

  run_wizard_tests.py --setrunc PATH --stub SETRUN.EXE --prefix FOLDER
                      [--arch win32|win64] [--case PATTERN]

Installers are built with setrunc from small projects (the builder's
standard layout). The driver (wizard_driver.exe) and the helpers
(hold_file.exe) are those of the setup program's own build; the prefix is of
the kind --arch names (a 32-bit setup program in a 64-bit prefix sees the
redirected registry and system folder, which the harness maps)."""

import argparse
import json
import os
import re
import struct
import sys
import time
import traceback
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)

from wizard_harness import (Driver, Failure, Wine, check, check_equal, drive, quote, read,  # noqa: E402
                            use_display)
from harness import (Project, patch_stored_stream, program_bits, remove, stream_positions,  # noqa: E402
                     temp_copies, wait_for_file)

UNINSTALL = "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\"
SYSTEM = "C:\\windows\\system32"
SETTINGS = "HKCU\\Software\\Setrun wizard tests\\"
ALL_PAGES = ["welcome", "information", "licence", "folder", "ready", "installing", "finish"]
LEAVE = "contains=" + quote("Do you want to leave Setup?")   # 7/14 of the default texts
STOP = "contains=" + quote("stop the installation")          # 7/13
NOT_COMPLETED = "contains=" + quote("was not completed")      # 7/15
ABANDONED = 15
BIG = 384 << 20   # a file that takes a while to decompress


def q(text):
    """A TOML basic string."""
    return json.dumps(text)


class Context:
    def __init__(self, wine, driver, setrunc, stub, name):
        self.wine, self.driver, self.stub, self.name = wine, driver, stub, name
        self.title = "Wizard " + name.replace("_", " ")
        self.work_win = "C:\\wizard-work\\" + name
        self.work = wine.host(self.work_win)
        remove(self.work)
        os.makedirs(self.work)
        self.project = Project(self.work, setrunc, stub)
        self.install_win = "C:\\wizard-inst\\" + name
        self.install = wine.host(self.install_win)
        remove(self.install)
        self.setup = None
        self.uninstall = UNINSTALL + self.title
        for key in (self.uninstall, SETTINGS + name):
            wine.reg_delete(key)

    def build(self, pages=ALL_PAGES, flags=("folder_changeable", "uninstall_entry", "folder_to_registry"), flags2=(),
              texts=None, layout_flags=(), files=None, top="", name="setup.exe", folder=None):
        """Builds an installer of one group with an uninstaller, an Uninstall
        entry and its folder recorded under SETTINGS; files are (name, data,
        more TOML lines); data None makes a sparse file of zeros of BIG bytes."""
        p = self.project
        p.file("uninstaller.bin", b"MZ uninstaller of the wizard tests\0")
        files = files if files is not None else [("readme.txt", b"Read me.\r\n", ""),
                                                 ("bin\\tool.dat", bytes(range(256)) * 40, "")]
        tables = ""
        for i, (target, data, more) in enumerate(files):
            source = "source%d.bin" % i
            if data is None:
                with open(os.path.join(self.work, source), "wb") as f:
                    f.truncate(BIG)
            else:
                p.file(source, data)
            tables += f"[[group.file]]\nsource = {q(source)}\nname = {q(target)}\n{more}\n"
        text_table = "{ " + ", ".join(f"{q(k)} = {q(v)}" for k, v in (texts or {}).items()) + " }"
        toml = f"""title = {q(self.title)}
uninstaller = "uninstaller.bin"
{top}
[layout]
flags = {json.dumps(list(layout_flags))}

[[group]]
name = {q(self.title)}
folder = {q(folder or self.install_win)}
flags = {json.dumps(list(flags))}
flags2 = {json.dumps(list(flags2))}
pages = {json.dumps(list(pages))}
uninstaller = "Uninstall.exe"
registry = {{ root = "HKCU", key = {q(SETTINGS[5:] + self.name)}, value = "Folder" }}
texts = {text_table}
{tables}"""
        self.setup = p.build(toml, name=name)
        return self.setup

    def drive(self, steps, setup=None, args=()):
        """Runs the installer with the driver's steps; checks that every step
        succeeded and returns (exit code as a shell reads it, result)."""
        rc, r = drive(self.wine, self.driver, setup or self.setup, steps, args=args)
        r.check()
        return rc, r

    def helper(self, name):
        path = os.path.join(self.wine.helpers, name)
        check(os.path.exists(path), path + " is missing (tests/install/install_programs.cmake)")
        return path

    # What an installation left.
    def installed(self, folder=None):
        """Relative paths of the files below the installation folder."""
        root = folder or self.install
        found = []
        for base, _, names in os.walk(root):
            found += [os.path.relpath(os.path.join(base, n), root).replace("/", "\\") for n in names]
        return sorted(found)

    def registered(self):
        """(Uninstall entry's values or None, the recorded folder or None)."""
        entry = self.wine.reg_values(self.uninstall)
        settings = self.wine.reg_values(SETTINGS + self.name) or {}
        folder = settings.get("Folder")
        return entry, folder[1] if folder else None

    def check_nothing_registered(self):
        check_equal(self.registered(), (None, None), "Uninstall entry and recorded folder")
        left = temp_copies(self.install) if os.path.isdir(self.install) else []
        check(not left, "temporary copies left behind: %r" % left)


def title_is(text):
    return "wait-text 1046 " + quote(text)


# The standard layout's pages: the welcome and finish pages have no header;
# their first text is control 1000.
WELCOME = "wait-text 1000 contains " + quote("Welcome to the setup")
FINISH = "wait-state 1 hidden"


# ---------------------------------------------------------------- walking


def case_every_page_in_turn(ctx):
    """Next and Back through all seven pages, the Information page's own Next
    label, the licence rule, a folder that does not exist yet (created after
    the question), the Ready page's summary; the installation registers
    itself and the run ends with 0."""
    ctx.build(texts={"1/2": "What is new", "1/3": "Read it", "2/2": "The licence."})
    target = ctx.install_win + "\\New Folder"
    rc, r = ctx.drive([
        "wizard title=" + quote(ctx.title),
        WELCOME, "wait-state 1045 disabled", "wait-state 1 focused",
        "click 1", title_is("Information"), "text 1000", "text 1",
        "click 1045", WELCOME,
        "click 1", title_is("Information"),
        "click 1", title_is("Licence agreement"),
        "wait-state 1 disabled", "wait-state 1003 checked", "wait-state 2 focused",
        "click 1002", "wait-state 1 enabled",
        "click 1003", "wait-state 1 disabled",
        "click 1002", "wait-state 1 enabled",
        "click 1", title_is("Installation folder"),
        "text 1004", "wait-state 1004 writable", "wait-state 1005 enabled", "text 1005",
        "text 1016", "text 1019", "text 1017",
        "set-text 1004 " + quote(target),
        "click 1", "answer yes contains=" + quote("does not exist yet"),
        title_is("Ready to install"), "text 1001", "text 1",
        "click 1", FINISH,
        "wait-state 1045 hidden", "wait-state 2 focused", "text 1000", "text 2",
        "click 2", "exit 0"])
    check_equal(rc, 0, "exit code")
    texts = [s["text"] for s in r.verb("text")]
    check_equal(texts[:3], ["What is new", "Read it", ctx.install_win], "information page and folder")
    check_equal(texts[3], "...", "browse button")
    check(re.fullmatch(r"\d+ MB", texts[4]) and re.fullmatch(r"\d+ MB", texts[5]),
          "space figures: %r" % texts[4:6])
    check_equal(texts[6], "Space required:", "needed space label")
    check_equal(texts[7:9], ["Installation folder\n" + target, "Install"], "ready page")
    check_equal(texts[9:], ["Completing the setup of " + ctx.title, "Close"], "finish page")
    root = os.path.join(ctx.install, "New Folder")
    check_equal(ctx.installed(root), ["Uninstall.exe", "bin\\tool.dat", "readme.txt"], "installed files")
    entry, folder = ctx.registered()
    check(entry is not None, "no Uninstall entry")
    check_equal(entry["UninstallString"][1], target + "\\Uninstall.exe", "UninstallString")
    check_equal(folder, target, "recorded folder")


def case_folder_page(ctx):
    """A group whose folder may not be changed shows it read-only with the
    browse button disabled; a changeable one installs into an existing
    folder typed in (no question asked), as typed."""
    ctx.build(pages=["folder", "installing", "finish"], flags=["uninstall_entry", "folder_to_registry"])
    rc, r = ctx.drive(["wizard", title_is("Installation folder"), "wait-state 1004 readonly",
                       "wait-state 1005 disabled", "wait-state 1045 disabled", "wait-state 1 focused",
                       "click 1", "answer yes contains=" + quote("does not exist yet"),
                       FINISH, "click 2", "exit 0"])
    check_equal(ctx.installed(), ["Uninstall.exe", "bin\\tool.dat", "readme.txt"], "fixed folder")

    remove(ctx.install)
    other = ctx.install_win + " other"
    remove(ctx.wine.host(other))
    os.makedirs(ctx.wine.host(other))
    ctx.build(pages=["folder", "installing", "finish"])
    rc, r = ctx.drive(["wizard", title_is("Installation folder"), "wait-state 1004 writable",
                       "set-text 1004 " + quote(other.upper()), "text 1004",
                       "click 1", FINISH, "click 2", "exit 0"])
    check_equal(ctx.installed(ctx.wine.host(other)), ["Uninstall.exe", "bin\\tool.dat", "readme.txt"],
                "files in the folder typed in")
    check(not os.path.exists(ctx.install), "the default folder was made too")
    check_equal(ctx.registered()[1], other.upper(), "recorded folder")
    remove(ctx.wine.host(other))


# ---------------------------------------------------------------- leaving


def case_cancel_asks_first(ctx):
    """Cancel, the Escape key and the close boxes (the backdrop's in both
    display modes, the full-screen frame's) ask 7/14 on the pages before the
    installation: No keeps the page, Yes shows 7/15 and ends the run with 15,
    nothing installed."""
    to_folder = ["click 1", title_is("Information"), "click 1", title_is("Licence agreement"),
                 "click 1002", "click 1", title_is("Installation folder")]
    rows = [
        ("welcome", (), [], "click 2", WELCOME),
        ("folder, backdrop close box", (), to_folder, "close backdrop", title_is("Installation folder")),
        ("ready, Escape", (), to_folder + ["click 1", "answer yes", title_is("Ready to install")],
         "key escape", title_is("Ready to install")),
        ("licence, full-screen frame close box", ("fullscreen", "gradient"), to_folder[:4], "close frame",
         title_is("Licence agreement")),
        ("welcome, full-screen backdrop close box", ("fullscreen",), [], "close backdrop", WELCOME),
    ]
    for what, layout_flags, reach, cancel, same in rows:
        try:
            ctx.build(layout_flags=layout_flags)
            rc, r = ctx.drive(["wizard", WELCOME] + reach + [
                cancel, "answer no " + LEAVE, same,
                cancel, "answer yes " + LEAVE, "answer ok " + NOT_COMPLETED, "exit %d" % ABANDONED])
            check_equal(rc, ABANDONED, "exit code")
            check_equal(r[0]["mode"], "full-screen" if layout_flags else "windowed", "display mode")
            check_equal(ctx.installed(), [], "files installed")
            ctx.check_nothing_registered()
        except Failure as e:
            raise Failure(f"{what}: {e}")


def case_cancel_while_a_file_is_decompressed(ctx):
    """Cancel on the Installing page asks 7/13; No lets the installation go
    on. The backdrop's close box asks the same; Yes while a large file is
    being decompressed stops it at once: the file before it stays, the large
    one and its temporary copy are gone, nothing is registered, no finish
    page shows and the run ends with 15."""
    ctx.build(pages=["welcome", "installing", "finish"],
              files=[("first.txt", b"first\r\n", ""), ("large.bin", None, ""), ("last.txt", b"last", "")])
    rc, r = ctx.drive([
        "wizard", "click 1", "answer yes contains=" + quote("does not exist yet"),
        title_is("Installing"), "wait-state 1045 disabled", "wait-state 1 disabled",
        "wait-text 1008 contains large.bin",
        "click 2", "answer no " + STOP, "text 1008",
        "close backdrop", "answer yes " + STOP, "answer ok " + NOT_COMPLETED,
        "exit %d" % ABANDONED])
    check_equal(rc, ABANDONED, "exit code")
    check(r.verb("text")[0]["text"].endswith("large.bin"), "the decompression ended before the question")
    check_equal(ctx.installed(), ["first.txt"], "files left")
    ctx.check_nothing_registered()


def case_failed_installation_finish_page(ctx):
    """A damaged stream ends the installation with 31: the finish page shows
    6/5 with the file, the message and the decompressor's status in control
    1000 (stretched over the hidden 1001 and 1002), nothing is registered,
    and the run ends with 31."""
    ctx.build(pages=["welcome", "installing", "finish"], top="compression = 0",
              files=[("good.txt", b"good", ""), ("bad.bin", bytes(range(200)) * 50, "")])
    data = read(ctx.setup)
    area, entries = stream_positions(ctx.project.inspect(ctx.setup), data)
    offset, packed = entries["bad.bin"]
    with open(ctx.setup, "wb") as f:
        f.write(patch_stored_stream(data, area + offset, packed, 100, 0xEE, fix_adler=False))
    rc, r = ctx.drive(["wizard", "click 1", "answer yes", FINISH,
                       "wait-state 1001 hidden", "wait-state 1002 hidden", "text 1000", "click 2", "exit 31"])
    text = r.verb("text")[0]["text"]
    check(text.startswith(ctx.title + " has not been installed.") and
          re.search(r"bad\.bin: The setup data is incomplete or damaged\. \(error 11[0-9A-F]{2}\)$", text),
          "failure text: %r" % text)
    check_equal(ctx.installed(), ["good.txt"], "files left")
    ctx.check_nothing_registered()


# ---------------------------------------------------------------- variants


def case_behind_the_scenes_and_without_finish_page(ctx):
    """Second group flags: 0x20 installs when the wizard moves on to the
    finish page without an Installing page; 0x40 ends the wizard after a
    successful installation instead of showing the finish page."""
    rows = [
        (["install_behind_scenes"], ["welcome", "finish"], ["click 1", FINISH, "click 2"]),
        (["no_finish_page"], ["welcome", "installing", "finish"], ["click 1"]),
        (["install_behind_scenes", "no_finish_page"], ["welcome", "finish"], ["click 1"]),
    ]
    for flags2, pages, steps in rows:
        remove(ctx.install)
        ctx.build(pages=pages, flags2=flags2, folder=ctx.install_win)
        os.makedirs(ctx.install)   # no question about the folder
        rc, r = ctx.drive(["wizard", WELCOME] + steps + ["exit 0"])
        check_equal(ctx.installed(), ["Uninstall.exe", "bin\\tool.dat", "readme.txt"], "files of %r" % flags2)
        check(ctx.registered()[0] is not None, "no Uninstall entry for %r" % flags2)


def case_forced_page(ctx):
    """A forced page is shown alone, without Back: Cancel leaves at once
    (no question, exit 0); Next on the folder page leaves without checking or
    making the folder; a forced Installing page installs nothing."""
    ctx.build(top='forced_page = { page = "folder", group = 0 }')
    ctx.drive(["wizard", title_is("Installation folder"), "wait-state 1045 disabled", "click 2", "exit 0"])
    new = ctx.install_win + "\\Forced"
    ctx.drive(["wizard", title_is("Installation folder"), "set-text 1004 " + quote(new), "click 1", "exit 0"])
    check(not os.path.exists(ctx.install), "the forced folder page made the folder")
    ctx.build(top='forced_page = { page = "installing", group = 0 }')
    ctx.drive(["wizard", title_is("Installing"), "wait-state 2 enabled", "click 2", "exit 0"])
    check(not os.path.exists(ctx.install), "the forced Installing page installed")
    ctx.check_nothing_registered()


def case_captions(ctx):
    """The page title goes into the caption with second group flag 0x20000000:
    the frame's in full-screen mode, after the setup title in the backdrop's
    in windowed mode; otherwise both show the setup title."""
    # (The windowed frame is a child: its text never shows.)
    rows = [((), (), ctx.title, ctx.title),
            ((), ("title_in_caption",), ctx.title + " - Information", ctx.title),
            (("fullscreen",), (), ctx.title, ctx.title),
            (("fullscreen",), ("title_in_caption",), ctx.title, "Information")]
    for layout_flags, flags2, backdrop, frame in rows:
        ctx.build(pages=["welcome", "information"], layout_flags=layout_flags, flags2=flags2)
        rc, r = ctx.drive(["wizard", WELCOME, "click 1", title_is("Information"),
                           "text backdrop", "text frame", "click 2", "answer yes", "answer ok", "exit 15"])
        check_equal([s["text"] for s in r.verb("text")], [backdrop, frame],
                    "captions with %r %r" % (layout_flags, flags2))


def case_finish_page_buttons(ctx):
    """After a successful installation the launch button (group flag 0x40)
    and the run-after-setup box (0x80) show with 6/6 and 6/7; without the
    button and with 6/3 empty the box takes the button's place and 6/4
    replaces the page's text."""
    ctx.build(pages=["welcome", "installing", "finish"],
              flags=["folder_changeable", "launch_button", "run_checkbox"])
    os.makedirs(ctx.install)
    rc, r = ctx.drive(["wizard", "click 1", FINISH, "wait-state 1014 visible", "text 1014",
                       "wait-state 1015 checked", "click 1015", "wait-state 1015 unchecked", "click 2", "exit 0"])
    check_equal(r.verb("text")[0]["text"], "Start " + ctx.title, "launch button")

    remove(ctx.install)
    ctx.build(pages=["welcome", "installing", "finish"], flags=["folder_changeable", "run_checkbox"],
              texts={"6/3": "", "6/4": "Start it now?"})
    os.makedirs(ctx.install)
    rc, r = ctx.drive(["wizard", "click 1", FINISH, "wait-state 1015 visible", "wait-state 1014 hidden",
                       "text 1001", "tree", "click 2", "exit 0"])
    check_equal(r.verb("text")[0]["text"], "Start it now?", "6/4")
    tops = {int(m.group(1)): int(m.group(2))
            for m in re.finditer(r'id=(101[45]) "[^"]*" \(-?\d+,(-?\d+) ', r.text)}
    check_equal(tops.get(1015), tops.get(1014), "top of the run-after-setup box")


# ---------------------------------------------------------------- the end of a run


def case_restart_question(ctx):
    """6/9 asks for a restart after a successful installation: the restart
    question (6/8, buttons 8/6 and 8/2) follows the wizard; its second button
    leaves the run with -2. A forced page never reboots, even with the first
    button. A silent installation needing a restart asks only with layout
    flag 0x8000."""
    restart = "window class=#32770 title=%s has=1000" % quote(ctx.title)
    ctx.build(pages=["welcome", "installing", "finish"], texts={"6/9": "restart"})
    os.makedirs(ctx.install)
    rc, r = ctx.drive(["wizard", "click 1", FINISH, "click 2", restart, "text 1000", "text 1", "text 2",
                       "wait-state 1 focused", "click 2", "exit -2"])
    check_equal(rc, 254, "exit code")
    check_equal([s["text"] for s in r.verb("text")],
                ["Your computer must be restarted to complete the installation of %s. "
                 "Do you want to restart it now?" % ctx.title, "Restart now", "Close"], "restart question")

    ctx.build(top='forced_page = { page = "finish", group = 0 }', texts={"6/9": "restart"})
    rc, r = ctx.drive(["wizard", FINISH, "click 2", restart, "click 1", "exit -2"])

    # A file of the system folder held open: replaced at the next restart.
    name = "setrun-wizard-%d.dat" % os.getpid()
    system = ctx.wine.find_host(SYSTEM)
    target = os.path.join(system, name)
    with open(target, "wb") as f:
        f.write(b"old")
    ready = ctx.work_win + "\\held.txt"
    release = ready + ".go"
    holder = ctx.wine.start(ctx.helper("hold_file.exe"), SYSTEM + "\\" + name, "none",
                            ready, release)
    try:
        check(wait_for_file(ctx.wine.host(ready), 60) and read(ctx.wine.host(ready)) == b"held",
              "the helper did not hold " + name)
        files = [(name, b"new", 'destination = "system"')]
        ctx.build(layout_flags=["silent", "restart_question_when_silent"], files=files)
        rc, r = ctx.drive([restart, "key escape", "exit -2"])
        ctx.build(layout_flags=["silent"], files=files)
        check_equal(ctx.wine.run(ctx.setup), 254, "silent run without the question")
    finally:
        open(ctx.wine.host(release), "wb").close()
        holder.wait(60)
        # The prefix is shared with the installation tests: leave no waiting
        # copy and no move for Wine's next restart to carry out.
        for left in os.listdir(system):
            if left.lower().startswith(name[:-3].lower()):
                remove(os.path.join(system, left))
        ctx.wine.reg_delete("HKLM\\System\\CurrentControlSet\\Control\\Session Manager",
                            "PendingFileRenameOperations")


def case_second_start_hands_over(ctx):
    """A second start of the same installer while the first shows its wizard
    ends at once with 0 (the first answers the probe); the first goes on."""
    ctx.build(pages=["welcome", "finish"])
    first = ctx.wine.start(ctx.setup)
    try:
        ctx.driver.run(["wizard", WELCOME]).check()
        check_equal(ctx.wine.run(ctx.setup, timeout=60), 0, "exit code of the second start")
        ctx.driver.run(["wizard", WELCOME, "click 2", "answer yes", "answer ok", "exit 15"]).check()
        check_equal(first.wait(60), ABANDONED, "exit code of the first start")
    finally:
        if first.poll() is None:
            first.kill()


def case_damaged_layout_is_refused(ctx):
    """A page entry beyond the layout record makes the package unreadable:
    the run ends with -1 and shows no window."""
    ctx.build()
    data = bytearray(read(ctx.setup))
    at = data.find(b"wwgT)H", 1012) + 6
    kind, flags, size = struct.unpack_from("<HHI", data, at)
    check_equal(kind, 0x1435, "first record")
    body = data[at + 8:at + 8 + size]
    layout = bytearray(zlib.decompress(body[4:]) if flags & 1 else body)
    struct.pack_into("<I", layout, 126 + 4 * 3, len(layout) - 20)   # the folder page's entry, cut short
    packed = struct.pack("<I", len(layout)) + zlib.compress(bytes(layout))
    data[at:at + 8 + size] = struct.pack("<HHI", kind, 1, len(packed)) + packed
    with open(ctx.setup, "wb") as f:
        f.write(data)
    check_equal(ctx.wine.run(ctx.setup, timeout=60), 255, "exit code")


def case_layout_follows_the_dpi(ctx):
    """At 144 DPI (Wine's LogPixels) the wizard lays itself out from the
    layout's 96-DPI figures scaled by 1.5: the frame, the button bar's Next
    button, the header pane's page title and the folder page's edit box
    (each edge is rounded on its own: a size may be one pixel off)."""
    ctx.build(pages=["folder", "finish"])
    targets = ["frame", "1", "1046", "1004"]
    steps = ["wizard", title_is("Installation folder")] + ["rect " + t for t in targets]
    steps += ["click 2", "answer yes", "answer ok", "exit %d" % ABANDONED]
    desktop = "HKCU\\Control Panel\\Desktop"
    sizes = {}
    try:
        for dpi in (96, 144):
            ctx.wine.reg_add(desktop, "LogPixels", "REG_DWORD", str(dpi))
            _, r = ctx.drive(steps)
            sizes[dpi] = [(int(s["width"]), int(s["height"])) for s in r.verb("rect")]
    finally:
        ctx.wine.reg_delete(desktop, "LogPixels")
    for target, small, large in zip(targets, sizes[96], sizes[144]):
        check(all(abs(2 * b - 3 * a) <= 2 for a, b in zip(small, large)),
              "%s: %r at 96 DPI, %r at 144 DPI" % (target, small, large))


CASES = [case_every_page_in_turn, case_folder_page, case_cancel_asks_first,
         case_cancel_while_a_file_is_decompressed, case_failed_installation_finish_page,
         case_behind_the_scenes_and_without_finish_page, case_forced_page, case_captions,
         case_finish_page_buttons, case_restart_question, case_second_start_hands_over,
         case_damaged_layout_is_refused, case_layout_follows_the_dpi]


def main():
    a = argparse.ArgumentParser()
    a.add_argument("--setrunc", required=True)
    a.add_argument("--stub", required=True)
    a.add_argument("--prefix", required=True)
    a.add_argument("--arch", choices=["win32", "win64"], default="win64")
    a.add_argument("--case", default="", help="run the cases whose name matches this pattern")
    args = a.parse_args()
    runner = os.path.join(HERE, "..", "wine", "run-in-wine.sh")
    stub = os.path.abspath(args.stub)
    build = os.path.dirname(stub)
    wine = Wine(args.prefix, runner, build, args.arch, program_bits(stub))
    print(f"{wine.bits}-bit setup program in a {args.arch} prefix", flush=True)
    use_display(wine)
    driver = Driver(wine, os.path.join(build, "wizard_driver.exe"))
    failed = 0
    for case in CASES:
        name = case.__name__[len("case_"):]
        if not re.search(args.case, name):
            continue
        start = time.time()
        try:
            case(Context(wine, driver, os.path.abspath(args.setrunc), stub, name))
            print(f"ok    {name} ({time.time() - start:.1f} s)", flush=True)
        except Failure as e:
            failed += 1
            print(f"FAIL  {name}: {e}", flush=True)
        except Exception:
            failed += 1
            print(f"ERROR {name}:", flush=True)
            traceback.print_exc()
    print(f"{failed} failed (Wine output in {wine.logs})" if failed else "all passed", flush=True)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
