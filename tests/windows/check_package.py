#!/usr/bin/env python3
"""Makes the zip packages in a scratch folder and checks their contents: the
release zip holds the tool and the readme only; the stand-in library is only
ever in the developer zip, the kit with the same exe, the e2e driver and
verify.cmd. With --tested-exe, the release zip's exe must be that very file
(the one the end-to-end suite ran). SHA256SUMS beside the zips must list
them and the exe, and packing again must give the same bytes.

Usage: check_package.py --build DIR --cpack PATH [--with-developer] [--tested-exe PATH]"""
import argparse
import hashlib
import pathlib
import subprocess
import sys
import tempfile
import zipfile

RELEASE = {"ProgrammerSetup.exe", "LibraryProbe.exe", "user-readme.txt"}
DEVELOPER = {"ProgrammerSetup.exe", "LibraryProbe.exe", "TAMLAISPDLL.DLL", "e2e_driver.exe", "firmware.bin",
             "verify.cmd", "probe.cmd"}


def pack(cpack, build, out):
    subprocess.run([cpack, "-G", "ZIP", "-B", out, "--config", str(pathlib.Path(build) / "CPackConfig.cmake")],
                   check=True, capture_output=True, text=True)
    return {p.name: p for p in pathlib.Path(out).glob("*.zip")}


def sums_problems(out, zips, exe_bytes):
    path = pathlib.Path(out) / "SHA256SUMS"
    if not path.is_file():
        return ["no SHA256SUMS beside the zips"]
    listed = {}
    for line in path.read_text(encoding="ascii").splitlines():
        digest, _, name = line.partition("  ")
        listed[name] = digest
    wanted = {name: hashlib.sha256(p.read_bytes()).hexdigest() for name, p in zips.items()}
    if exe_bytes is not None:
        wanted["ProgrammerSetup.exe"] = hashlib.sha256(exe_bytes).hexdigest()
    if listed != wanted:
        return ["SHA256SUMS lists %s, wanted %s" % (sorted(listed.items()), sorted(wanted.items()))]
    print("SHA256SUMS: %d right sums" % len(listed))
    return []


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", required=True)
    parser.add_argument("--cpack", required=True)
    parser.add_argument("--with-developer", action="store_true")
    parser.add_argument("--tested-exe")
    args = parser.parse_args()
    problems = []
    exe_bytes = None
    probe_bytes = None
    with tempfile.TemporaryDirectory() as out, tempfile.TemporaryDirectory() as again:
        zips = pack(args.cpack, args.build, out)
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
                if "ProgrammerSetup.exe" in z.namelist():
                    exe_bytes = z.read("ProgrammerSetup.exe")
                if "LibraryProbe.exe" in z.namelist():
                    probe_bytes = z.read("LibraryProbe.exe")
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
                    elif z.read("ProgrammerSetup.exe") != exe_bytes:
                        problems.append("the developer zip's exe differs from the release zip's")
                    elif z.read("LibraryProbe.exe") != probe_bytes:
                        problems.append("the developer zip's probe differs from the release zip's")
                    for name in ("verify.cmd", "probe.cmd"):
                        if name in names and b"\n" in z.read(name).replace(b"\r\n", b""):
                            problems.append("%s lacks Windows line ends" % name)
        elif developer:
            problems.append("developer zip made without a stand-in library: %s" % developer)
        problems += sums_problems(out, zips, exe_bytes)
        # Staging again gives the files new change times: the zips must not
        # carry them.
        repacked = pack(args.cpack, args.build, again)
        differing = sorted(n for n in zips if n not in repacked or zips[n].read_bytes() != repacked[n].read_bytes())
        if differing:
            problems.append("packing again gave other bytes for %s" % differing)
        else:
            print("packing again: the same bytes")
    for problem in problems:
        print("FAIL", problem)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
