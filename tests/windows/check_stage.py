#!/usr/bin/env python3
"""Checks the stage folder the run command starts from: the tool (and the
stand-in library when it is built) as the build made them, nothing stale.

Usage: check_stage.py --stage DIR --exe PATH [--dll PATH]"""
import argparse
import pathlib
import sys


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--stage", required=True)
    parser.add_argument("--exe", required=True)
    parser.add_argument("--dll")
    args = parser.parse_args()
    stage = pathlib.Path(args.stage)
    problems = []
    wanted = [pathlib.Path(args.exe)] + ([pathlib.Path(args.dll)] if args.dll else [])
    for built in wanted:
        staged = stage / built.name
        if not staged.is_file():
            problems.append("%s missing from %s" % (built.name, stage))
        elif staged.read_bytes() != built.read_bytes():
            problems.append("%s in the stage folder differs from the build's" % built.name)
    for problem in problems:
        print("FAIL", problem)
    print("stage: %s" % ("ok" if not problems else "%d problem(s)" % len(problems)))
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
