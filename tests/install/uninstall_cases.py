"""Installation and removal: the embedded uninstaller (uninstaller/) run
under Wine after the setup program. Each case compares the prefix before the
installation and after the removal (and the restart that takes the
uninstaller itself away): files on drive C, and the registry keys an
installation writes to."""

import os
import re

from cases import SHARED, UNINSTALL, noise, q, text_data
from harness import check, check_equal, read, remove

FONT = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf"
# Folders Wine or the test itself writes to while a case runs.
VOLATILE = ("windows/temp", "e2e-work", "windows/logs")
COMPONENTS = "HKCU\\Software\\SetrunTest\\Components"
FONTS_KEY = "HKLM\\Software\\Microsoft\\Windows NT\\CurrentVersion\\Fonts"
RUN_KEYS = [UNINSTALL[:-1], SHARED, FONTS_KEY, "HKCU\\Software\\Setrun E2E Uninstall"]


def head(title, extra=""):
    """A project that names no uninstaller: setrunc embeds its own."""
    return (f"title = {q(title)}\nproduct = {q(title)}\ncompression = 0\npublisher = \"Setrun Tests\"\n"
            f"version = \"1.2.3\"\n{extra}\n[layout]\nflags = [\"silent\"]\n")


def snapshot(w, ctx, *names):
    """Files and folders on drive C (name: size, or None for a folder) and
    the text of the registry keys the cases write to. Uninstall entries of
    the products named, left by an earlier run, go first."""
    for name in names:
        w.reg_delete(UNINSTALL + name)
    # The folder above the installation folder was there before (the cases
    # share it); the uninstaller removes only what the installation made.
    os.makedirs(os.path.dirname(ctx.install), exist_ok=True)
    files = {}
    for folder, dirs, names in os.walk(w.drive_c, followlinks=True):
        rel = os.path.relpath(folder, w.drive_c).replace(os.sep, "/").lower()
        if rel == ".":
            rel = ""
        if any(rel == v or rel.startswith(v + "/") for v in VOLATILE) or "/temp" in "/" + rel:
            dirs[:] = []
            continue
        # Wine's menu entries for the host (winemenubuilder writes them into
        # HOME, which the user folders link to) are no Windows files.
        dirs[:] = [d for d in dirs if not d.startswith(".")]
        names = [n for n in names if not n.endswith(".desktop")]
        for d in dirs:
            files[(rel + "/" + d).lower()] = None
        for n in names:
            path = os.path.join(folder, n)
            files[(rel + "/" + n).lower()] = os.path.getsize(path) if os.path.exists(path) else -1
    registry = {}
    for key in RUN_KEYS:
        w.run("reg", "query", w.redirect_key(key), "/s")
        text = read(w.last_output).decode("utf-8", "replace")
        # Wine adds the host's fonts (Z:\usr\share\fonts) when it starts.
        registry[key] = "\n".join(l for l in text.splitlines() if "    Z:\\" not in l)
    return files, registry


def check_same(before, after, allowed=()):
    """The prefix is as it was, apart from the paths (lower case, relative to
    drive C) in allowed."""
    files_before, reg_before = before
    files_after, reg_after = after
    changed = sorted(p for p in set(files_before) | set(files_after)
                     if files_before.get(p, "gone") != files_after.get(p, "gone")
                     and p not in allowed)
    check(not changed, "files changed by installing and removing: %r" % changed[:20])
    for key in RUN_KEYS:
        check_equal(reg_after[key], reg_before[key], "registry key " + key)


def uninstall(ctx, uninstaller_win, *args):
    """Runs the uninstaller silently; returns its exit code and what it
    printed (the files it left, one a line)."""
    rc = ctx.wine.run(uninstaller_win, "/S", *args)
    return rc, read(ctx.wine.last_output).decode("cp1252", "replace")


def restart(w):
    """A restart of Windows: the moves and deletions waiting for it happen."""
    check_equal(w.run("wineboot", "-r"), 0, "exit code of wineboot -r")


def rel(w, winpath):
    """A Windows path as snapshot() names it."""
    return os.path.relpath(w.find_host(winpath), w.drive_c).replace(os.sep, "/").lower()


def product(ctx, title, name, files, extra_group="", setup="setup.exe"):
    """Builds a product of one group into the case's installation folder:
    files are (source, data, more lines of its table)."""
    p = ctx.project
    tables = ""
    for source, data, more in files:
        if data is not None:
            p.file(source, data)
        tables += f"[[group.file]]\n{('source = ' + q(source)) if data is not None else ''}\n{more}"
    return p.build(head(title) + f"""
[[group]]
name = {q(name)}
folder = {q(ctx.install_win)}
{extra_group}
""" + tables, setup)


def case_install_then_uninstall(ctx):
    """A ten-line project installs with the embedded uninstaller and its
    Apps & features entry; removal takes back files, folders, shortcuts, a
    font, the installation folder's value and the Uninstall entry, and the
    uninstaller itself with its folder at the next start. A damaged log
    removes nothing and says so. A second round: a file changed since the
    installation, a file the log does not list and a file left out of the
    log stay, and the uninstaller names them."""
    w = ctx.wine
    name = "Setrun E2E Uninstall " + ctx.name
    files = [
        ("src/tool.exe", noise(40000, 1), 'start_menu_folder = "Setrun E2E Uninstall\\\\Tools"\n'
                                          'start_menu_name = "Tool.lnk"\ndesktop_name = "Tool.lnk"\n'),
        ("src/readme.txt", text_data(3000, 2), 'options = ["read_only", "ordinary"]\n'),
        ("src/docs/a.txt", b"a\r\n", 'name = "docs\\\\en\\\\a.txt"\n'),
        ("src/keep.txt", b"not logged\r\n", 'flags = ["not_logged"]\n'),
        ("logs", None, 'name = "data\\\\logs"\nflags = ["folder_entry"]\n'),
    ]
    if os.path.exists(FONT):
        files.append(("src/e2efont.ttf", read(FONT), f'name = "{ctx.name}.ttf"\ndestination = "fonts"\n'))
    # A component that registers itself (tests/install/component_dll.c): its
    # value under COMPONENTS comes and goes with it.
    component = ctx.name + "_component.dll"
    component_dll = os.path.join(w.helpers, "component_1.dll")
    if os.path.exists(component_dll):
        files.append(("src/" + component, read(component_dll), 'flags = ["self_register"]\n'))
        w.reg_delete(COMPONENTS, component)
        w.reg_delete(COMPONENTS, component + ".history")
    group = ('flags = ["folder_changeable", "uninstall_entry", "folder_to_registry"]\n'
             'registry = { root = "HKCU", key = "Software\\\\Setrun E2E Uninstall\\\\Tool", value = "Folder" }\n')
    before = snapshot(w, ctx, name)
    product(ctx, "E2E Uninstall", name, files, group)
    check_equal(ctx.run_setup(), 0, "exit code of the installation")
    uninstaller_win = ctx.install_win + "\\Uninstall.exe"
    values = w.reg_values(UNINSTALL + name) or {}
    expected = {
        "DisplayName": ("REG_SZ", name),
        "UninstallString": ("REG_SZ", uninstaller_win),
        "QuietUninstallString": ("REG_SZ", '"%s" /S' % uninstaller_win),
        "DisplayIcon": ("REG_SZ", uninstaller_win),
        "Publisher": ("REG_SZ", "Setrun Tests"),
        "DisplayVersion": ("REG_SZ", "1.2.3"),
        "EstimatedSize": ("REG_DWORD", "0x%x" % (
            (sum(len(data) for _, data, _ in files if data is not None) + 1023) // 1024)),
        "NoModify": ("REG_DWORD", "0x1"),
        "NoRepair": ("REG_DWORD", "0x1"),
    }
    check_equal(values, expected, "the Uninstall entry")
    if os.path.exists(component_dll):
        check_equal((w.reg_values(COMPONENTS) or {}).get(component), ("REG_SZ", "1"),
                    "the component's registration")

    # A damaged log: one byte short. Nothing goes.
    image = read(ctx.wine.host(uninstaller_win))
    damaged_win = ctx.work_win + "\\damaged.exe"
    with open(w.host(damaged_win), "wb") as f:
        f.write(image[:-1])
    rc, said = uninstall(ctx, damaged_win)
    check_equal(rc, 255, "exit code with a damaged log")
    check("damaged or incomplete" in said, "the damaged log is not reported: %r" % said)
    check(os.path.exists(os.path.join(ctx.install, "docs/en/a.txt")), "a damaged log removed files")

    rc, said = uninstall(ctx, uninstaller_win)
    check_equal(rc, 2, "exit code of the removal (the file left out of the log stays)")
    keep_win = ctx.install_win + "\\keep.txt"
    check_equal([line for line in said.splitlines() if line.startswith("C:")], [keep_win],
                "files named as kept")
    check(os.path.exists(w.host(uninstaller_win)), "the running uninstaller is gone before the restart")
    check(w.reg_values(UNINSTALL + name) is None, "the Uninstall entry stays")
    if os.path.exists(component_dll):
        registered = w.reg_values(COMPONENTS) or {}
        check(component not in registered, "the component is still registered")
        check_equal(registered.get(component + ".history"), ("REG_SZ", "+1 -1"),
                    "the component's registrations")
    remove(w.host(keep_win))
    restart(w)
    check_same(before, snapshot(w, ctx))

    # Second round: a changed file, a file of the user, a file left out of
    # the log.
    check_equal(ctx.run_setup(), 0, "exit code of the second installation")
    with open(os.path.join(ctx.install, "docs/en/a.txt"), "ab") as f:
        f.write(b"changed")
    with open(os.path.join(ctx.install, "data/logs/today.log"), "wb") as f:
        f.write(b"user data")
    rc, said = uninstall(ctx, uninstaller_win)
    check_equal(rc, 2, "exit code of the removal with changed files")
    named = sorted(line.lower() for line in said.splitlines() if line.startswith("C:"))
    expected_named = sorted(p.lower() for p in [ctx.install_win + "\\docs\\en\\a.txt",
                                                 ctx.install_win + "\\data\\logs\\today.log",
                                                 keep_win])
    check_equal(named, expected_named, "files named as kept")
    restart(w)
    left = [rel(w, ctx.install_win + p) for p in
            ("", "\\docs", "\\docs\\en", "\\docs\\en\\a.txt", "\\data", "\\data\\logs",
             "\\data\\logs\\today.log", "\\keep.txt")]
    check_same(before, snapshot(w, ctx), set(left))
    check(not os.path.exists(os.path.join(ctx.install, "Uninstall.exe")), "the uninstaller stays")
    check(not os.path.exists(os.path.join(ctx.install, "readme.txt")), "readme.txt stays")
    remove(ctx.install)


def case_shared_file_of_two_products(ctx):
    """Two products install the same shared library into the system folder:
    it stays until the second is removed, its count going 2, 1, gone."""
    w = ctx.wine
    dll = ctx.name + ".dll"
    dll_win = "C:\\windows\\system32\\" + dll
    w.reg_delete(SHARED, dll_win)
    w.reg_add(SHARED)  # the setup program counts only where the key exists
    os.makedirs(ctx.install, exist_ok=True)
    before = snapshot(w, ctx, "Setrun E2E Shared one", "Setrun E2E Shared two")
    install_win = ctx.install_win
    for n in ("one", "two"):
        ctx.install_win = install_win + "\\" + n
        product(ctx, "E2E Shared " + n, "Setrun E2E Shared " + n,
                [("src/shared.dll", noise(5000, 7), f'name = "{dll}"\ndestination = "system"\n'
                                                    'flags = ["shared"]\n')], setup=n + ".exe")
        check_equal(ctx.run_setup(n + ".exe"), 0, "exit code of installing " + n)
    ctx.install_win = install_win
    check_equal((w.reg_values(SHARED) or {}).get(dll_win), ("REG_DWORD", "0x2"), "count after two")
    rc, said = uninstall(ctx, install_win + "\\one\\Uninstall.exe")
    check_equal(rc, 0, "exit code of removing the first product")
    check(os.path.exists(w.find_host(dll_win)), "the shared library went with the first product")
    check_equal((w.reg_values(SHARED) or {}).get(dll_win), ("REG_DWORD", "0x1"), "count after one")
    rc, said = uninstall(ctx, install_win + "\\two\\Uninstall.exe")
    check_equal(rc, 0, "exit code of removing the second product")
    check(not os.path.exists(w.find_host(dll_win)), "the shared library stays")
    check(dll_win not in (w.reg_values(SHARED) or {}), "the shared count stays")
    restart(w)
    check_same(before, snapshot(w, ctx))


def case_file_in_use_goes_at_the_restart(ctx):
    """A file that another program holds open when the product is removed
    goes at the next start of Windows (exit code -2)."""
    w = ctx.wine
    before = snapshot(w, ctx, "Setrun E2E In Use")
    product(ctx, "E2E In Use", "Setrun E2E In Use", [("src/held.dat", noise(9000, 3), "")])
    check_equal(ctx.run_setup(), 0, "exit code of the installation")
    held_win = ctx.install_win + "\\held.dat"
    let_go = ctx.hold(held_win, "read")
    try:
        rc, said = uninstall(ctx, ctx.install_win + "\\Uninstall.exe")
    finally:
        let_go()
    check_equal(rc, 254, "exit code of the removal (a restart is needed)")
    check(os.path.exists(w.host(held_win)), "the file in use was deleted at once")
    restart(w)
    check(not os.path.exists(w.host(held_win)), "the file in use stays after the restart")
    check_same(before, snapshot(w, ctx))


def case_component_that_crashes(ctx):
    """A component whose DllUnregisterServer crashes (component_fault.dll of
    tests/install/component_dll.c, whose registration crashes as well): the
    uninstaller survives it, keeps the file and names it (exit code 2), and
    removes everything else."""
    w = ctx.wine
    name = "Setrun E2E Crash " + ctx.name
    fault = ctx.name + "_fault.dll"
    fault_win = ctx.install_win + "\\" + fault
    for n in (fault, fault + ".history"):
        w.reg_delete(COMPONENTS, n)
    before = snapshot(w, ctx, name)
    product(ctx, "E2E Crash", name, [
        ("src/" + fault, read(ctx.helper("component_fault.dll")), 'flags = ["self_register"]\n'),
        ("src/after.txt", b"removed all the same\r\n", ""),
    ])
    check_equal(ctx.run_setup(), 0, "exit code of the installation")
    rc, said = uninstall(ctx, ctx.install_win + "\\Uninstall.exe")
    check_equal(_history(w, fault), "+9 -9", "calls of the crashing component")
    check_equal(rc, 2, "exit code of the removal (the crashing component stays)")
    check_equal([line for line in said.splitlines() if line.startswith("C:")], [fault_win],
                "files named as kept")
    check(os.path.exists(w.host(fault_win)), "the crashing component was deleted")
    check(not os.path.exists(os.path.join(ctx.install, "after.txt")), "after.txt stays")
    check(w.reg_values(UNINSTALL + name) is None, "the Uninstall entry stays")
    remove(w.host(fault_win))
    restart(w)
    check_same(before, snapshot(w, ctx))
    for n in (fault, fault + ".history"):
        w.reg_delete(COMPONENTS, n)


def _history(w, name):
    """The calls of the test component named name (tests/install/component_dll.c)."""
    value = (w.reg_values(COMPONENTS) or {}).get(name + ".history")
    return value[1] if value else None


def case_appended_installations(ctx):
    """A second package appends its log to the uninstaller of the first; one
    removal undoes both, newest first: a file the second package replaced is
    removed as the second left it, not kept as changed."""
    w = ctx.wine
    before = snapshot(w, ctx, "Setrun E2E Append")
    product(ctx, "E2E Append", "Setrun E2E Append",
            [("src/one.txt", b"first\r\n", ""), ("src/both.txt", b"old\r\n", "")], setup="first.exe")
    ctx.project.file("src2/both.txt", b"new and longer\r\n")
    product(ctx, "E2E Append", "Setrun E2E Append",
            [("src/two.txt", b"second\r\n", 'name = "sub\\\\two.txt"\n'),
             ("src2/both.txt", b"new and longer\r\n", "")],
            'flags = ["folder_changeable", "uninstall_entry", "append_uninstaller"]',
            setup="second.exe")
    check_equal(ctx.run_setup("first.exe"), 0, "exit code of the first package")
    check_equal(ctx.run_setup("second.exe"), 0, "exit code of the second package")
    check_equal(read(os.path.join(ctx.install, "both.txt")), b"new and longer\r\n", "both.txt")
    # With its windows: No keeps everything; Yes removes, and says so.
    caption = "Setrun E2E Append Uninstall"
    uninstaller_win = ctx.install_win + "\\Uninstall.exe"
    finish = ctx.answer_boxes(caption, "7")
    check_equal(w.run(uninstaller_win), 1, "exit code after No")
    rc, text = finish()
    check_equal((rc, text.strip()),
                (0, "Remove Setrun E2E Append and all of its components from this computer?"),
                "the question")
    check(os.path.exists(os.path.join(ctx.install, "sub/two.txt")), "No removed files")
    finish = ctx.answer_boxes(caption, "6,1")
    rc = w.run(uninstaller_win)
    boxes = finish()
    check_equal(rc, 0, "exit code of the removal")
    check_equal(boxes[0], 0, "the message boxes were not answered")
    check(boxes[1].strip().endswith("Setrun E2E Append was removed from this computer."),
          "the closing message: %r" % boxes[1])
    restart(w)
    check_same(before, snapshot(w, ctx))


GROUPS = {
    "uninstall": [case_install_then_uninstall, case_shared_file_of_two_products,
                  case_file_in_use_goes_at_the_restart, case_component_that_crashes,
                  case_appended_installations],
}
