#!/usr/bin/env python3
"""Makes the zip packages in a scratch folder and checks their contents: the
release zip holds the tool and the readme only; the stand-in library is only
ever in the developer zip. With --tested-exe, the release zip's exe must be
that very file (the one the end-to-end suite ran).

Usage: check_package.py --build DIR --cpack PATH [--with-developer] [--tested-exe PATH]"""
import argparse
import pathlib
import subprocess
import sys
import tempfile
import zipfile

RELEASE = {"ProgrammerSetup.exe", "user-readme.txt"}
DEVELOPER = {"TAMLAISPDLL.DLL"}


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", required=True)
    parser.add_argument("--cpack", required=True)
    parser.add_argument("--with-developer", action="store_true")
    parser.add_argument("--tested-exe")
    args = parser.parse_args()
    problems = []
    with tempfile.TemporaryDirectory() as out:
        subprocess.run([args.cpack, "-G", "ZIP", "-B", out, "--config",
                        str(pathlib.Path(args.build) / "CPackConfig.cmake")],
                       check=True, capture_output=True, text=True)
        zips = {p.name: p for p in pathlib.Path(out).glob("*.zip")}
        release = [n for n in zips if not n.endswith("-developer.zip")]
        developer = [n for n in zips if n.endswith("-developer.zip")]
        if len(release) != 1:
            problems.append("release zips: %s" % sorted(release))
        else:
            with zipfile.ZipFile(zips[release[0]]) as z:
                names = {pathlib.PurePosixPath(n).name for n in z.namelist() if not n.endswith("/")}
                print("%s: %s" % (release[0], sorted(names)))
                if names != RELEASE:
                    problems.append("release zip holds %s, wanted %s" % (sorted(names), sorted(RELEASE)))
                if args.tested_exe:
                    exe = next((n for n in z.namelist() if n.endswith("ProgrammerSetup.exe")), None)
                    if exe is None or z.read(exe) != pathlib.Path(args.tested_exe).read_bytes():
                        problems.append("the release zip's exe differs from %s" % args.tested_exe)
                    else:
                        print("release exe: the same bytes as %s" % args.tested_exe)
                readme = next(n for n in z.namelist() if n.endswith("user-readme.txt"))
                text = z.read(readme).decode("utf-8-sig")
                if "TAMLAISPDLL.DLL" not in text or "\r\n" not in text or "\n" in text.replace("\r\n", ""):
                    problems.append("readme lacks the library note or Windows line ends")
        if args.with_developer:
            if len(developer) != 1:
                problems.append("developer zips: %s" % sorted(developer))
            else:
                with zipfile.ZipFile(zips[developer[0]]) as z:
                    names = {pathlib.PurePosixPath(n).name for n in z.namelist() if not n.endswith("/")}
                    print("%s: %s" % (developer[0], sorted(names)))
                    if names != DEVELOPER:
                        problems.append("developer zip holds %s, wanted %s" % (sorted(names), sorted(DEVELOPER)))
        elif developer:
            problems.append("developer zip made without a stand-in library: %s" % developer)
    for problem in problems:
        print("FAIL", problem)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
