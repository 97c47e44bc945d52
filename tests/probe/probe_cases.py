#!/usr/bin/env python3
"""Runs LibraryProbe.exe under Wine the way a customer would, each case in a
folder of its own with the library beside the probe: against the stand-in
in its modes, the wrong libraries built for these tests, and files that are
no library. Checks each run's exit status, verdict lines, causes and report
file; with the stand-in, its call log must show the calls and no write.

Usage: probe_cases.py --wine WINE --locale LC_ALL --probe EXE --standin DLL
                      --wrong DIR --program EXE --arch x86|x64 --work DIR [CASE...]"""
import argparse
import hashlib
import os
import pathlib
import re
import shutil
import struct
import subprocess
import sys
import time

# A programmer name in code page 936 bytes ("编程器"), as a library hands it.
GBK_NAME = "编程器".encode("gbk")

# name, library, scenario for the stand-in, arguments, exit status,
# verdicts {id: holds|copes|breaks|not seen}, the result line's cause, texts
# the report must hold; a status or verdict may be a {x86: ..., x64: ...}
# choice. library: standin, a wrong_* variant, or missing / other-machine /
# program / truncated; "x86 only" cases are skipped on the twin.
CASES = [
    dict(name="default", library="standin", status=0,
         verdicts=dict(machine="holds", exports="holds", calls="holds", stdcall=dict(x86="holds", x64="not seen"),
                       registration="holds", record="holds", **{"registration-time": "holds",
                       "search-count": "holds", "search-overrun": "holds", "small-table": "holds",
                       "callback-thread": "not seen", "callback-values": "not seen",
                       "callback-lock": "not seen", "event-slots": "not seen"}, names="holds"),
         cause="nothing seen breaks the tool, exit status 0; every assumption seen holds",
         texts=['slot 1: id 2, boot version 0211, unique id 5C-22-91-00-47-E1, name "PROG-B"',
                'the tool lists "2#ISP DEV:5C-22-91-00-47-E1" (mode 0)', "ANSI code page     936"]),
    # Reporting the attached programmers inside a registration takes a scan.
    dict(name="callbacks-in-calls", library="standin", status=0,
         scenario="device 1\ndevice 2\ncallbacks-in-calls on\nenum-ms 1100\n",
         verdicts={"callback-thread": "copes", "calls": "holds", "callback-values": "holds",
                   "registration-time": "copes"},
         texts=["code 3, mask 0x0003, count 2, on the probe's main thread inside Tamla_SetIspOption",
                "on the probe's main thread inside Tamla_EnumDevices"]),
    # Commands go to the stand-in once the probe watches. Under the lock the
    # callback waits for a registration on another thread, which waits for
    # the library's lock.
    dict(name="callbacks-under-lock", library="standin", status=0, args=["--watch", "3"],
         scenario="callbacks-under-lock on\ndevice 1\n", commands=["plug 5\n"],
         verdicts={"callback-lock": "copes", "callback-thread": "holds"},
         texts=["did not return while the callback waited"]),
    dict(name="watch", library="standin", status=0, args=["--watch", "3"],
         scenario="device 1\n", commands=["plug 5 name=LATE\n", "unplug 1\n", "event 1 0x30000 20\n"],
         verdicts={"event-slots": "holds", "callback-lock": "holds", "callback-thread": "holds",
                   "callback-values": "copes"},
         texts=['slot 1: before empty; after id 5 "LATE"',
                'slot 0: before id 1 "PROG-1" (70-00-00-00-00-01); after id 5 "LATE"']),
    dict(name="unterminated-names", library="standin", status=0,
         scenario="device 1\ndevice 2\nunterminated-names on\nmode 1\n",
         verdicts={"names": "copes", "record": "holds"},
         cause="it copes with 1 difference(s) noted below",
         texts=["offset 0 (mode): 00 -> 01", "mode the tool reads afterwards: 1",
                'the tool lists "1#ISP DEV:PROG-1' + "#" * 44 + '" (mode 1)',
                "2 of 2 programmer(s) had a name without a terminator"]),
    dict(name="counts-above-16", library="standin", status=0,
         scenario=b"device 1 name=" + GBK_NAME + b"\nenum-count 20\n",
         verdicts={"search-count": "copes", "search-overrun": "holds"},
         texts=["search 1 returned 20 with maxCount 16 and 1 record(s) written",
                'name "编程器" (terminated after 6 bytes)']),
    # The library given as a folder elsewhere; the report stays beside the probe.
    dict(name="refused-options", library="standin", in_folder="lib", status=0,
         scenario="device 1\noption-result 0\n",
         verdicts={"registration": "copes", "search-count": "holds"},
         texts=["result 0 (refused)", "lib\\TAMLAISPDLL.DLL", "answered 0, then 0"]),
    # x64 has one calling convention: the same library holds there.
    dict(name="cdecl", library="wrong_cdecl", status=dict(x86=1, x64=0),
         verdicts={"stdcall": {"x86": "breaks", "x64": "not seen"}, "calls": "holds",
                   "search-count": "holds", "search-overrun": "holds"},
         texts=["CompanyName       测试厂商", "file 2.5.0.7, product 2.5.0.0",
                "1 record(s) written, and 15 slot(s) after them set to zero",
                "Search 3 of 3: not made, as one programmer"]),
    dict(name="overrun", library="wrong_overrun", status=0,
         verdicts={"search-overrun": "copes", "calls": "holds", "record": "copes"},
         texts=["a search with maxCount 16 wrote 2 record(s) past it, within the 16 spare",
                "offsets 64-66 (first path): 00 00 00 -> 43 3A 5C"]),
    dict(name="past-room", library="wrong_past_room", status=1,
         verdicts={"search-overrun": "breaks", "calls": "holds"},
         cause="search-overrun: a search with maxCount 16 wrote 20 record(s) past it, 4 past the 16 spare"),
    dict(name="decorated", library="wrong_decorated", status=1, arch="x86",
         verdicts={"exports": "breaks", "registration": "holds", "search-count": "holds"},
         texts=['Tamla_SetIspOption only as "Tamla_SetIspOption@4"']),
    dict(name="no-names", library="wrong_no_names", status=2,
         verdicts={"exports": "breaks", "calls": "not seen"},
         cause="could not judge this library, exit status 2: the library lacks Tamla_SetIspOption"),
    dict(name="crash", library="wrong_crash", status=1,
         verdicts={"calls": "breaks", "registration": "holds"},
         cause="calls: Tamla_EnumDevices crashed: exception 0xC0000005 at TAMLAISPDLL.DLL+",
         texts=["Registration 2 of 2"]),
    dict(name="thread-crash", library="wrong_thread_crash", status=1,
         verdicts={"calls": "breaks", "registration": "holds"},
         cause="calls: a thread of the library's crashed: exception 0xC0000005 at TAMLAISPDLL.DLL+"),
    # With no room for the report beside the probe, it goes to the temporary folder.
    dict(name="exit", library="wrong_exit", status=1, report_blocked=True,
         verdicts={"calls": "breaks"}, cause="calls: Tamla_EnumDevices ended the process with exit code 7"),
    dict(name="stack-overflow", library="wrong_stack_overflow", status=1, verdicts={"calls": "breaks"},
         cause="calls: Tamla_EnumDevices overflowed its stack: exception 0xC00000FD at TAMLAISPDLL.DLL+"),
    dict(name="hang", library="wrong_hang", status=1, args=["--timeout", "2"], within=20,
         verdicts={"calls": "breaks"},
         cause="calls: Tamla_EnumDevices did not return within 2 s"),
    dict(name="missing", library="missing", status=2, verdicts={"machine": "not seen"},
         cause="no library there: the file is missing"),
    dict(name="other-machine", library="other-machine", status=2, verdicts={"machine": "breaks"},
         cause="a library for "),
    dict(name="program", library="program", status=2, cause="not a library: the file is a program"),
    dict(name="truncated", library="truncated", status=2, cause="truncated: the file has "),
]

STALE = "Result: nothing seen breaks the tool, exit status 0 (an earlier run's report)\n"
KINDS = {"holds": "holds", "the tool copes": "copes", "breaks the tool": "breaks",
         "not seen in this run": "not seen"}

VERDICT = re.compile(r"^  ([a-z-]+) \(([^()]*)\): (holds|the tool copes|breaks the tool|not seen in this run)\b")


def prepare(case, args, folder):
    folder.mkdir(parents=True)
    shutil.copy(args.probe, folder / "LibraryProbe.exe")
    if case.get("report_blocked"):
        (folder / "LibraryProbe-report.txt").mkdir()
    else:
        (folder / "LibraryProbe-report.txt").write_text(STALE)
    library = folder / case.get("in_folder", "") / "TAMLAISPDLL.DLL"
    library.parent.mkdir(exist_ok=True)
    kind = case["library"]
    standin = pathlib.Path(args.standin).read_bytes()
    if kind == "standin":
        library.write_bytes(standin)
        scenario = case.get("scenario")
        if scenario is not None:
            (library.parent / "tamlasim.txt").write_bytes(
                scenario if isinstance(scenario, bytes) else scenario.encode())
    elif kind.startswith("wrong_"):
        shutil.copy(pathlib.Path(args.wrong) / (kind + ".dll"), library)
    elif kind == "other-machine":
        data = bytearray(standin)
        at = struct.unpack_from("<I", data, 0x3C)[0] + 4
        struct.pack_into("<H", data, at, 0x8664 if args.arch == "x86" else 0x014C)
        library.write_bytes(bytes(data))
    elif kind == "program":
        shutil.copy(args.program, library)
    elif kind == "truncated":
        library.write_bytes(standin[:len(standin) // 2])
    return library


def unix_path(path):
    """A path the probe printed, on this side: Wine's Z: is the root, C: its prefix's drive_c."""
    drive, rest = path[:3].upper(), path[3:].replace("\\", "/")
    if drive == "Z:\\":
        return pathlib.Path("/" + rest)
    return pathlib.Path(os.environ.get("WINEPREFIX", ""), "drive_c", rest)


def wait_for(condition, seconds=30):
    end = time.monotonic() + seconds
    while not condition():
        if time.monotonic() > end:
            return False
        time.sleep(0.05)
    return True


def send_command(folder, name, text):
    """A stand-in command file, written as its clients must; returns once
    the stand-in has delivered the events it fired."""
    (folder / (name + ".tmp")).write_text(text)
    (folder / (name + ".tmp")).rename(folder / (name + ".cmd"))
    wait_for((folder / (name + ".done")).exists, 15)


def check_case(case, args, work):
    folder = work / case["name"]
    library = prepare(case, args, folder)
    command = [args.wine, str(folder / "LibraryProbe.exe")] + case.get("args", [])
    if "in_folder" in case:
        command.append("Z:" + str(library.parent).replace("/", "\\"))
    env = dict(os.environ, LC_ALL=args.locale)
    env.pop("TAMLASIM_DIR", None)
    start = time.monotonic()
    # Output to files: a pipe stays open as long as any program Wine started
    # for the run holds its end. Wine's own messages go to stderr.
    with open(folder / "stdout.txt", "wb") as stdout, open(folder / "stderr.txt", "wb") as stderr:
        run = subprocess.Popen(command, cwd=folder, env=env, stdout=stdout, stderr=stderr)
        if "commands" in case and wait_for(lambda: b"Watch for" in (folder / "stdout.txt").read_bytes()):
            for number, text in enumerate(case["commands"]):
                send_command(library.parent / "cmd", "%03d" % number, text)
        run.wait(timeout=90)
    seconds = time.monotonic() - start
    out = (folder / "stdout.txt").read_bytes().decode("utf-8", "replace").replace("\r\n", "\n")
    problems = []
    lines = out.splitlines()
    # The report is this run's: where its last line says, the run's lines
    # after the result, and nothing of the earlier run's it replaced.
    where = [l[len("Report: "):] for l in lines if l.startswith("Report: ")]
    report_path = unix_path(where[-1]) if where else folder / "LibraryProbe-report.txt"
    beside = report_path.parent == folder
    report = report_path.read_bytes().decode("utf-8-sig") if report_path.is_file() else ""
    report = report.replace("\r\n", "\n")
    result = next((l for l in lines if l.startswith("Result: ")), "")
    if not report:
        problems.append("no report at %s" % report_path)
    elif not report.startswith(result + "\n") or not report.endswith(out) or STALE in report:
        problems.append("the report is not this run's: its result first, then what the probe printed")
    if beside == bool(case.get("report_blocked")):
        problems.append("the report is at %s" % report_path)
    if lines[1:2] != ["It never calls Tamla_FlashProgramB and never writes a programmer."]:
        problems.append("the report does not start by saying it never writes")
    status = case["status"][args.arch] if isinstance(case["status"], dict) else case["status"]
    if run.returncode != status:
        problems.append("exit status %d, wanted %d" % (run.returncode, status))
    if seconds > case.get("within", 60):
        problems.append("took %.1f s" % seconds)
    verdicts = {m.group(1): KINDS[m.group(3)] for m in map(VERDICT.match, lines) if m}
    if len(verdicts) != 15:
        problems.append("%d verdict lines, wanted 15" % len(verdicts))
    for key, wanted in case.get("verdicts", {}).items():
        wanted = wanted[args.arch] if isinstance(wanted, dict) else wanted
        have = verdicts.get(key, "missing")
        if have != wanted:
            problems.append("verdict %s: %s, wanted %s" % (key, have, wanted))
    if case.get("cause", "") not in result:
        problems.append("result %r lacks %r" % (result, case["cause"]))
    for text in case.get("texts", []):
        if text not in report:
            problems.append("report lacks %r" % text)
    if case["library"] == "standin":
        calls = (library.parent / "calls.log").read_text(encoding="utf-8", errors="replace")
        if "Tamla_SetIspOption" not in calls or "Tamla_EnumDevices" not in calls:
            problems.append("the stand-in's call log lacks the probe's calls")
        if "Tamla_FlashProgramB" in calls:
            problems.append("the probe called Tamla_FlashProgramB")
    if case["name"] == "default":
        digest = hashlib.sha256(library.read_bytes()).hexdigest()
        if "SHA-256            " + digest not in report:
            problems.append("no SHA-256 line with %s" % digest)
    for problem in problems:
        print("FAIL %s: %s" % (case["name"], problem))
    if problems:
        print("---- %s printed:\n%s---- and on stderr:\n%s----" % (
            case["name"], out, (folder / "stderr.txt").read_bytes().decode("utf-8", "replace")))
    else:
        print("ok   %s (%.1f s, exit status %d)" % (case["name"], seconds, run.returncode))
    return not problems


def main():
    parser = argparse.ArgumentParser()
    for option in ("--wine", "--locale", "--probe", "--standin", "--wrong", "--program", "--work"):
        parser.add_argument(option, required=True)
    parser.add_argument("--arch", choices=["x86", "x64"], required=True)
    parser.add_argument("names", nargs="*")
    args = parser.parse_args()
    work = pathlib.Path(args.work)
    shutil.rmtree(work, ignore_errors=True)
    failed = 0
    for case in CASES:
        if (args.names and case["name"] not in args.names) or case.get("arch", args.arch) != args.arch:
            continue
        failed += 0 if check_case(case, args, work) else 1
    print("probe cases: %s" % ("all passed" if failed == 0 else "%d failed" % failed))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
