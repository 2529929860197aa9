#!/usr/bin/env python3
"""Runs one group of installation tests (see cases.py) under Wine.

  run_install_tests.py --group NAME --setrunc PATH --stub SETRUN.EXE
                       --prefix FOLDER [--arch win32|win64] [--case SUBSTRING]

The stub is either build of the setup program; the helper programs
(hold_file.exe, version_*.dll, msgbox_answer.exe) are taken from its folder
(the Windows build it belongs to). The Wine prefix, of the kind --arch
names (default win64), is created on first use and reused afterwards; the
groups may share one, in turn (tests/install/install.cmake). The output of
the Windows programs goes to PREFIX-logs/GROUP."""

import argparse
import os
import sys
import time
import traceback

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from cases import GROUPS, Context  # noqa: E402
from uninstall_cases import GROUPS as UNINSTALL_GROUPS  # noqa: E402
from harness import Failure, Wine, program_bits  # noqa: E402


GROUPS = dict(GROUPS, **UNINSTALL_GROUPS)


def main():
    a = argparse.ArgumentParser()
    a.add_argument("--group", required=True, choices=sorted(GROUPS) + ["all"])
    a.add_argument("--setrunc", required=True)
    a.add_argument("--stub", required=True)
    a.add_argument("--prefix", required=True)
    a.add_argument("--arch", choices=["win32", "win64"], default="win64")
    a.add_argument("--case", default="")
    args = a.parse_args()
    here = os.path.dirname(os.path.abspath(__file__))
    runner = os.path.join(here, "..", "wine", "run-in-wine.sh")
    stub = os.path.abspath(args.stub)
    logs = os.path.join(os.path.abspath(args.prefix) + "-logs", args.group)
    wine = Wine(args.prefix, runner, os.path.dirname(stub), args.arch, program_bits(stub), logs)
    print(f"{wine.bits}-bit setup program in a {args.arch} prefix"
          + (" (redirected)" if wine.redirected else ""), flush=True)
    wine.ensure()
    groups = sorted(GROUPS) if args.group == "all" else [args.group]
    failed = 0
    for g in groups:
        for case in GROUPS[g]:
            name = case.__name__[len("case_"):]
            if args.case not in name:
                continue
            start = time.time()
            try:
                case(Context(wine, os.path.abspath(args.setrunc), stub, name))
                print(f"ok    {g}.{name} ({time.time() - start:.1f} s)", flush=True)
            except Failure as e:
                failed += 1
                print(f"FAIL  {g}.{name}: {e}", flush=True)
            except Exception:
                failed += 1
                print(f"ERROR {g}.{name}:", flush=True)
                traceback.print_exc()
    print(f"{failed} failed (Wine output in {wine.logs})" if failed else "all passed", flush=True)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
