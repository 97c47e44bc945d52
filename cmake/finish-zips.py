#!/usr/bin/env python3
"""Rewrites the zips CPack made so that the same files always give the same
bytes, and writes their SHA-256 sums beside them.

CPack's ZIP stores each file's modification, access and change times, its
owner, and the DOS time in the packing machine's time zone, all of which
differ between two builds of one commit. The rewrite keeps the names, bytes
and executable bits; puts the entries in name order; dates every entry at
the source date (UTC); and stores no extra fields.

SHA256SUMS (sha256sum's format), in the folder the zips are copied to,
lists the exe, as carried in the first zip that holds it, and every zip;
the same lines are printed. `sha256sum -c SHA256SUMS` checks the exe once
the release zip is unpacked beside it.

Usage: finish-zips.py --epoch SECONDS --exe NAME --sums-dir DIR ZIP..."""
import argparse
import hashlib
import io
import pathlib
import sys
import time
import zipfile


def entry_date(epoch):
    # The DOS date starts in 1980.
    return max(time.gmtime(epoch)[:6], (1980, 1, 1, 0, 0, 0))


def rewrite(path, epoch):
    with zipfile.ZipFile(path) as old:
        entries = [(info, old.read(info)) for info in old.infolist()]
    buffer = io.BytesIO()
    with zipfile.ZipFile(buffer, "w") as new:
        for info, data in sorted(entries, key=lambda entry: entry[0].filename):
            fresh = zipfile.ZipInfo(info.filename, entry_date(epoch))
            fresh.create_system = 3  # Unix, so the modes below count
            executable = (info.external_attr >> 16) & 0o111
            if info.is_dir():
                fresh.external_attr = (0o40755 << 16) | 0x10
                new.writestr(fresh, b"")
            else:
                fresh.external_attr = (0o100755 if executable else 0o100644) << 16
                fresh.compress_type = zipfile.ZIP_DEFLATED
                new.writestr(fresh, data, compresslevel=9)
    path.write_bytes(buffer.getvalue())


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--epoch", type=int, required=True)
    parser.add_argument("--exe", required=True)
    parser.add_argument("--sums-dir", required=True, help="where the zips end up")
    parser.add_argument("zips", nargs="+")
    args = parser.parse_args()
    zips = sorted(pathlib.Path(z) for z in args.zips)
    sums = []
    for path in zips:
        rewrite(path, args.epoch)
    for path in zips:
        with zipfile.ZipFile(path) as z:
            if args.exe in z.namelist():
                sums.append((hashlib.sha256(z.read(args.exe)).hexdigest(), args.exe))
                break
    else:
        print("finish-zips: no zip holds %s" % args.exe, file=sys.stderr)
        return 1
    sums += [(hashlib.sha256(path.read_bytes()).hexdigest(), path.name) for path in zips]
    lines = "".join("%s  %s\n" % entry for entry in sums)
    (pathlib.Path(args.sums_dir) / "SHA256SUMS").write_text(lines, encoding="ascii", newline="\n")
    print("SHA256SUMS (source date %d):\n%s" % (args.epoch, lines), end="")
    return 0


if __name__ == "__main__":
    sys.exit(main())
