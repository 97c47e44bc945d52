#!/usr/bin/env python3
"""Prints the configuration block of a 61440-byte programmer image (a flash
dump written by the stand-in library) and checks the image's structure.

Usage: decode-image.py IMAGE [--firmware res/firmware.bin]

Exit status 0 when the image is well formed: 61440 bytes, starting with the
firmware file and erased (0xFF) up to the block, every option field holding
either its erased value or a value the tool writes, the 14-byte 0xBB marker
in place, and every other byte erased. 1 otherwise; 2 when a file is missing.
"""
import argparse
import pathlib
import sys

IMAGE_SIZE = 0xF000
BLOCK_START = 0x9BF0
COUNT_LIMIT = 0x9BF0
PORT = 0x9C04
WAIT_TIME = 0x9C08
MACHINE_SIGNAL = 0x9C0C
KEEP_POWER = 0x9C10
MARKER = 0xA000
MARKER_SIZE = 14
ON = 0xAA
ERASED = 0xFF

# Byte ranges of the block the tool writes; everything else from the end of
# the payload on must stay erased.
WRITTEN = [(COUNT_LIMIT, 4), (PORT, 1), (WAIT_TIME, 4), (MACHINE_SIGNAL, 1), (KEEP_POWER, 1),
           (MARKER, MARKER_SIZE)]


def hexbytes(data):
    return " ".join("%02X" % b for b in data)


def decode(image, firmware):
    """Returns (lines to print, problems found)."""
    lines, problems = [], []
    if len(image) != IMAGE_SIZE:
        problems.append("image is %d bytes, not %d" % (len(image), IMAGE_SIZE))
        return lines, problems

    if firmware is not None:
        if image[:len(firmware)] == firmware:
            lines.append("payload:        %d bytes, equal to the firmware file" % len(firmware))
        else:
            at = next(i for i, (a, b) in enumerate(zip(image, firmware)) if a != b)
            problems.append("payload differs from the firmware file at offset 0x%X" % at)
        payload_end = len(firmware)
    else:
        payload_end = 0

    def u32(offset):
        field = image[offset:offset + 4]
        if field == b"\xff" * 4:
            return None, field
        return int.from_bytes(field, "big"), field

    count, raw = u32(COUNT_LIMIT)
    if count is None:
        lines.append("count limit:    off (%s)" % hexbytes(raw))
    elif count == 0:
        problems.append("count limit field holds 0, which the tool never writes")
    else:
        lines.append("count limit:    %d (%s)" % (count, hexbytes(raw)))

    port = image[PORT]
    if port <= 7:
        lines.append("port:           %d (%s)" % (port, "PORT0" if port == 0 else "PORT0～%d" % port))
    else:
        problems.append("port byte is 0x%02X, not 0 to 7" % port)

    wait, raw = u32(WAIT_TIME)
    if wait is None:
        lines.append("wait time:      not set (%s)" % hexbytes(raw))
    elif wait == 0:
        problems.append("wait time field holds 0, which the tool never writes")
    else:
        lines.append("wait time:      %d ms (%s)" % (wait, hexbytes(raw)))

    for name, offset in (("machine signal", MACHINE_SIGNAL), ("keep power", KEEP_POWER)):
        value = image[offset]
        if value in (ON, ERASED):
            lines.append("%-15s %s (%02X)" % (name + ":", "on" if value == ON else "off", value))
        else:
            problems.append("%s byte is 0x%02X, neither 0xAA nor 0xFF" % (name, value))

    marker = image[MARKER:MARKER + MARKER_SIZE]
    if marker == b"\xbb" * MARKER_SIZE:
        lines.append("marker:         ok (14 x BB at 0x%X)" % MARKER)
    else:
        problems.append("marker at 0x%X is %s" % (MARKER, hexbytes(marker)))

    written = set()
    for start, size in WRITTEN:
        written.update(range(start, start + size))
    stray = [i for i in range(payload_end, IMAGE_SIZE) if i not in written and image[i] != ERASED]
    if stray:
        problems.append("%d bytes outside the payload and the block are not erased, first at 0x%X"
                        % (len(stray), stray[0]))
    elif firmware is not None:
        lines.append("erased space:   ok (0x%X to the end, outside the block)" % payload_end)
    return lines, problems


def main():
    default_firmware = pathlib.Path(__file__).resolve().parent.parent / "res" / "firmware.bin"
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("image")
    parser.add_argument("--firmware", default=str(default_firmware),
                        help="firmware file the image should start with; 'none' skips the comparison")
    args = parser.parse_args()
    try:
        image = pathlib.Path(args.image).read_bytes()
        firmware = None if args.firmware == "none" else pathlib.Path(args.firmware).read_bytes()
    except OSError as error:
        print("decode-image: %s" % error, file=sys.stderr)
        return 2
    print("image:          %s" % args.image)
    lines, problems = decode(image, firmware)
    for line in lines:
        print(line)
    for problem in problems:
        print("PROBLEM: %s" % problem)
    print("result:         %s" % ("well formed" if not problems else "%d problem(s)" % len(problems)))
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
