#!/usr/bin/env python3
"""Tests of the wizard test driver and its harness against the stand-in
(wizard_standin.exe), which has the wizard's window structure.

  run_standin_tests.py --driver EXE --standin EXE --prefix FOLDER
                       [--screenshots FOLDER] [--case SUBSTRING]

Without --screenshots the prefix uses Wine's null display driver and the
screenshot case is skipped; with it, a private Xvfb display, and the
pictures are kept in FOLDER as PNG files."""

import argparse
import os
import re
import sys
import time
import traceback

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from wizard_harness import (KILLED, SCREEN, Bitmap, Driver, Failure, VirtualDisplay, Wine,  # noqa: E402
                            bmp_to_png, check, check_equal, drive, png_size, quote, stop_wine,
                            use_display)

TITLE = "Stand-in Setup"
BACKDROP = (0, 96, 160)     # the stand-in's backdrop colour


class Context:
    def __init__(self, wine, driver, standin, shots):
        self.wine, self.driver, self.standin, self.shots = wine, driver, standin, shots


def case_walk(ctx):
    """Next, Back, typing, a check box and a rich edit, through to the exit
    code; the text typed comes back unchanged, non-ASCII letters included."""
    name = "Zo\u00eb Ada"
    rc, r = drive(ctx.wine, ctx.driver, ctx.standin, [
        "wizard title=" + quote(TITLE),
        "wait-state 1045 disabled",
        "click 1", "wait-page",
        "wait-state 1 disabled",
        "set-text 1000 " + quote(name),
        "wait-state 1 enabled",
        "text 1003",
        "click 1002", "wait-state 1002 checked",
        "click 1045", "wait-page",
        "click 1", "wait-page",
        "text 1000",
        "click 1", "wait-page",
        "text 1000",
        "click 1",
        "exit 3"])
    r.check()
    check_equal(rc, 3, "exit code of the stand-in")
    check_equal(r[0]["mode"], "windowed", "display mode")
    check_equal(r[0]["title"], "Welcome", "first page")
    check_equal([s["title"] for s in r.verb("wait-page")], ["Details", "Welcome", "Details", "Finish"],
                "pages in turn")
    check_equal([s["text"] for s in r.verb("text")],
                ["Rich text line one\nline two", name, "Name: %s, extras: yes" % name], "texts read")
    check_equal(r.verb("exit")[0]["code"], "3", "exit code the driver saw")


def case_cancel_and_close(ctx):
    """Cancel asks; No keeps the page, the backdrop's close box asks again,
    Yes shows the notice and ends the program with 15."""
    rc, r = drive(ctx.wine, ctx.driver, ctx.standin, [
        "wizard",
        "click 2",
        "answer no title=%s contains=stop" % quote(TITLE),
        "wait-text 1046 Welcome",
        "close backdrop",
        "answer yes text=%s" % quote("Do you want to stop the setup?"),
        "answer ok",
        "exit 15"])
    r.check()
    check_equal(rc, 15, "exit code of the stand-in")
    check(r[1]["opened"].startswith("0x"), "the click did not report the box it opened: " + r[1].line)
    check_equal([(s["button"], s["text"]) for s in r.verb("answer")],
                [("7", "Do you want to stop the setup?"), ("6", "Do you want to stop the setup?"),
                 ("1", "The setup did not complete.")], "boxes answered")


def case_full_screen_restart(ctx):
    """The driver starts the program itself; the frame is a popup owned by
    the backdrop; the restart question is found by its control 1000, and
    Escape or its button 1 decide the exit code (negative codes included)."""
    for answer, code in (("key escape", 0), ("click 1", -2)):
        r = ctx.driver.run([
            "start %s /full /restart" % quote(ctx.standin),
            "wizard", "click 1", "wait-page",
            "set-text 1000 x", "click 1", "wait-page",
            "click 1",
            "window class=#32770 title=%s has=1000" % quote(TITLE),
            "text 1000", "wait-state 1 focused",
            answer,
            "exit %d" % code]).check()
        check_equal(r[1]["mode"], "full-screen", "display mode")
        check_equal(r.verb("text")[0]["text"], "Restart the computer now?", "restart question")
        check_equal(r.verb("exit")[0]["code"], str(code), "exit code after " + answer)


def case_failures(ctx):
    """A failed step names what went wrong, stops the script and shows the
    window tree; with -k the program is ended; unknown commands fail too."""
    program = ctx.wine.start(ctx.standin)
    try:
        r = ctx.driver.run(["wizard", "click 1", "wait-page", "click 1", "text 1000"], kill_on_failure=False)
        check(not r.ok and r.returncode == 1, "a click on a disabled button succeeded:\n" + r.text)
        check_equal((len(r.steps), r.failed.verb, r.failed.message), (4, "click", "control 1 is disabled"),
                    "failed step")
        check(re.search(r'^\|\s+0x\w+ SetrunClass pid=\d+ "Stand-in Setup" \(', r.tree, re.M) and
              re.search(r'^\|\s+0x\w+ Button id=1 "Next >" \(.*\) visible disabled$', r.tree, re.M),
              "the window tree does not show the backdrop and the disabled button:\n" + r.tree)

        r = ctx.driver.run(["wizard", "timeout 1000", "wait-text 1046 Nowhere"])
        check_equal(r.failed.message, 'control 1046 did not read "Nowhere" within 1000 ms; it read "Details"',
                    "timed-out step")
        check('RichEdit20A id=1046 "Details"' in r.tree, "the tree lacks the title control:\n" + r.tree)
        check_equal(program.wait(120), KILLED, "exit code of the ended program")
    finally:
        if program.poll() is None:
            program.kill()

    r = ctx.driver.run(["timeout 1000", "frobnicate 1"])
    check_equal((r.returncode, r.failed.number, r.failed.message), (1, 2, "unknown command"), "unknown command")


def case_screenshots(ctx):
    """Pictures of the screen and of the frame show the stand-in: the
    backdrop's colour around the frame, the frame in front with its text,
    and a different picture after the page changed."""
    if not ctx.shots:
        return "skipped (no display)"
    work = "C:\\wizard-driver\\shots"
    os.makedirs(ctx.wine.host(work), exist_ok=True)
    names = ["screen", "welcome", "details"]
    rc, r = drive(ctx.wine, ctx.driver, ctx.standin, [
        "wizard",
        "shot %s\\screen.bmp screen" % work,
        "shot %s\\welcome.bmp frame" % work,
        "click 1", "wait-page", "set-text 1000 Ada",
        "shot %s\\details.bmp frame" % work,
        "close", "answer yes", "answer ok", "exit 15"], args=("/full",))
    r.check()
    check_equal(rc, 15, "exit code of the stand-in")
    shots = {n: Bitmap(ctx.wine.host("%s\\%s.bmp" % (work, n))) for n in names}
    screen, welcome = shots["screen"], shots["welcome"]
    check_equal((screen.width, screen.height), SCREEN, "screen size")
    frame = r.verb("shot")[1]
    x, y, w, h = (int(frame[k]) for k in ("x", "y", "width", "height"))
    check_equal((welcome.width, welcome.height), (w, h), "frame picture size")
    check_equal(screen.pixel(5, 5), BACKDROP, "backdrop colour")
    check(screen.pixel(x + w // 2, y + h // 2) != BACKDROP, "the frame is not in front of the backdrop")
    check_equal(screen.pixel(x + w // 2, y + h // 2), welcome.pixel(w // 2, h // 2), "frame on the screen")
    check(len(welcome.colours()) > 10, "the frame picture shows no text")
    check(welcome.rows != shots["details"].rows, "the next page looks the same")
    os.makedirs(ctx.shots, exist_ok=True)
    for n in names:
        png = os.path.join(ctx.shots, "standin-%s.png" % n)
        bmp_to_png(ctx.wine.host("%s\\%s.bmp" % (work, n)), png)
        check_equal(png_size(png), (shots[n].width, shots[n].height), png + " size")


CASES = [case_walk, case_cancel_and_close, case_full_screen_restart, case_failures, case_screenshots]


def main():
    a = argparse.ArgumentParser()
    a.add_argument("--driver", required=True)
    a.add_argument("--standin", required=True)
    a.add_argument("--prefix", required=True)
    a.add_argument("--screenshots", default="")
    a.add_argument("--case", default="")
    args = a.parse_args()
    here = os.path.dirname(os.path.abspath(__file__))
    runner = os.path.join(here, "..", "wine", "run-in-wine.sh")
    standin = os.path.abspath(args.standin)
    wine = Wine(args.prefix, runner, os.path.dirname(standin))
    failed = 0
    display = VirtualDisplay() if args.screenshots else None
    try:
        if display:
            display.__enter__()
        use_display(wine, display)
        ctx = Context(wine, Driver(wine, os.path.abspath(args.driver)), standin,
                      os.path.abspath(args.screenshots) if args.screenshots else "")
        for case in CASES:
            name = case.__name__[len("case_"):]
            if args.case not in name:
                continue
            start = time.time()
            try:
                note = case(ctx)
                print(f"ok    {name} ({time.time() - start:.1f} s){' ' + note if note else ''}", flush=True)
            except Failure as e:
                failed += 1
                print(f"FAIL  {name}: {e}", flush=True)
            except Exception:
                failed += 1
                print(f"ERROR {name}:", flush=True)
                traceback.print_exc()
    finally:
        if display:
            stop_wine(wine)
            display.__exit__()
    print(f"{failed} failed (Wine output in {wine.logs})" if failed else "all passed", flush=True)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
