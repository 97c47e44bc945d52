#!/usr/bin/env python3
"""Runs one check of the built tool and prints its problems.

Usage: check_exe.py CHECK --exe PATH [--firmware PATH] [--version X.Y.Z] [--objdump PATH]
                    [--texts cp936_texts.h] [--forbid FOLDER]... [--arch x86|x64]
CHECK is one of: machine, imports, dialog, icon, firmware, version, manifest, cp936,
paths (no FOLDER in the file; also for the stand-in library and the driver),
test_support (--map LINK_MAP --core src/core: no test-only function linked in),
probe-imports (the library probe's).
Exit status 0 when the check finds nothing wrong, 1 otherwise."""
import argparse
import pathlib
import sys

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent))
import exe_checks  # noqa: E402
import narrow_texts  # noqa: E402
from pe_file import PeFile  # noqa: E402


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("check", choices=["machine", "imports", "dialog", "icon", "firmware", "version", "manifest", "cp936", "paths",
                                          "test_support", "probe-imports"])
    parser.add_argument("--exe", required=True)
    parser.add_argument("--firmware")
    parser.add_argument("--version")
    parser.add_argument("--objdump", default="i686-w64-mingw32-objdump")
    parser.add_argument("--texts", help="src/core/cp936_texts.h")
    parser.add_argument("--forbid", action="append", default=[], help="source or build folder")
    parser.add_argument("--arch", choices=["x86", "x64"], default="x86", help="the machine the build is for")
    parser.add_argument("--map", help="the exe's link map")
    parser.add_argument("--core", help="src/core, whose headers mark the test-only functions")
    args = parser.parse_args()
    if args.check == "test_support":
        names = exe_checks.testing_functions(
            p.read_text(encoding="utf-8") for p in sorted(pathlib.Path(args.core).glob("*.h")))
        problems = exe_checks.test_support_problems(pathlib.Path(args.map).read_text(errors="replace"), names)
        for problem in problems:
            print("FAIL test_support: %s" % problem)
        if not problems:
            print("ok test_support: none of %s linked in" % ", ".join(names))
        return 1 if problems else 0
    exe = pathlib.Path(args.exe).read_bytes()
    if args.check == "machine":
        machine = PeFile(exe).machine
        problems = [] if machine == args.arch else ["an %s image, wanted %s" % (machine, args.arch)]
    elif args.check == "imports":
        problems = exe_checks.import_problems(args.exe, args.objdump)
    elif args.check == "probe-imports":
        problems = exe_checks.probe_import_problems(args.exe, args.objdump)
    elif args.check == "paths":
        problems = exe_checks.path_problems(exe, args.forbid)
    elif args.check == "cp936":
        texts = narrow_texts.header_texts(pathlib.Path(args.texts).read_text(encoding="utf-8"))
        problems = exe_checks.cp936_problems(exe, texts)
    else:
        pe = PeFile(exe)
        if args.check == "dialog":
            problems = exe_checks.dialog_problems(pe, args.version)
        elif args.check == "icon":
            problems = exe_checks.icon_problems(pe)
        elif args.check == "manifest":
            problems = exe_checks.manifest_problems(pe)
        elif args.check == "firmware":
            problems = exe_checks.firmware_problems(pe, pathlib.Path(args.firmware).read_bytes())
        else:
            problems = exe_checks.version_problems(pe, args.version)
    for problem in problems:
        print("FAIL %s: %s" % (args.check, problem))
    if not problems:
        print("ok %s" % args.check)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
