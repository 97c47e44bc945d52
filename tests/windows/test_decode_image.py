#!/usr/bin/env python3
"""Runs scripts/decode-image.py over images laid out here byte by byte and
checks what it prints and its exit status, for good images and broken ones.

Usage: test_decode_image.py --decoder PATH --firmware PATH"""
import argparse
import pathlib
import subprocess
import sys
import tempfile


def image(firmware, count=None, port=0, wait=None, signal=False, power=False):
    data = bytearray(b"\xff" * 0xF000)
    data[:len(firmware)] = firmware
    if count is not None:
        data[0x9BF0:0x9BF4] = count.to_bytes(4, "big")
    data[0x9C04] = port
    if wait is not None:
        data[0x9C08:0x9C0C] = wait.to_bytes(4, "big")
    if signal:
        data[0x9C0C] = 0xAA
    if power:
        data[0x9C10] = 0xAA
    data[0xA000:0xA00E] = b"\xbb" * 14
    return data


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--decoder", required=True)
    parser.add_argument("--firmware", required=True)
    args = parser.parse_args()
    firmware = pathlib.Path(args.firmware).read_bytes()
    failures = []

    def run(data, expect_status, expect_lines=(), reject_lines=()):
        with tempfile.NamedTemporaryFile(suffix=".bin") as f:
            f.write(bytes(data))
            f.flush()
            result = subprocess.run([sys.executable, args.decoder, f.name, "--firmware", args.firmware],
                                    capture_output=True, text=True)
        out = result.stdout
        if result.returncode != expect_status:
            failures.append("status %d, wanted %d:\n%s" % (result.returncode, expect_status, out))
        for text in expect_lines:
            if text not in out:
                failures.append("%r missing from:\n%s" % (text, out))
        for text in reject_lines:
            if text in out:
                failures.append("%r unexpected in:\n%s" % (text, out))

    # The demo's settings, decoded field by field.
    run(image(firmware, count=1000, port=3, wait=500, power=True), 0,
        ["count limit:    1000 (00 00 03 E8)", "port:           3 (PORT0～3)",
         "wait time:      500 ms (00 00 01 F4)", "machine signal: off (FF)", "keep power:     on (AA)",
         "marker:         ok", "%d bytes, equal to the firmware file" % len(firmware), "well formed"])
    # The defaults: nothing set, first port.
    run(image(firmware), 0, ["count limit:    off (FF FF FF FF)", "port:           0 (PORT0)",
                             "wait time:      not set", "machine signal: off", "keep power:     off"])
    # Largest values of both numbers, most significant byte first.
    run(image(firmware, count=99999, wait=999999999, port=7, signal=True), 0,
        ["count limit:    99999 (00 01 86 9F)", "wait time:      999999999 ms (3B 9A C9 FF)",
         "port:           7 (PORT0～7)", "machine signal: on (AA)"])
    # Host byte order instead of big-endian shows as a different number.
    wrong_order = image(firmware)
    wrong_order[0x9C08:0x9C0C] = (500).to_bytes(4, "little")
    run(wrong_order, 0, ["wait time:      4093706240 ms"], ["500 ms"])

    # Broken images.
    short = image(firmware)[:-1]
    run(short, 1, ["image is 61439 bytes"])
    bad_marker = image(firmware)
    bad_marker[0xA00D] = 0xFF
    run(bad_marker, 1, ["PROBLEM: marker"])
    stray = image(firmware)
    stray[0x9C05] = 0x00
    run(stray, 1, ["not erased, first at 0x9C05"])
    stray_end = image(firmware)
    stray_end[0xEFFF] = 0x12
    run(stray_end, 1, ["first at 0xEFFF"])
    payload = image(firmware)
    payload[10] ^= 0x01
    run(payload, 1, ["payload differs from the firmware file at offset 0xA"])
    zero_count = image(firmware, count=0)
    run(zero_count, 1, ["count limit field holds 0"])
    port = image(firmware, port=8)
    run(port, 1, ["port byte is 0x08"])
    signal = image(firmware)
    signal[0x9C0C] = 0x01
    run(signal, 1, ["machine signal byte is 0x01"])

    for failure in failures:
        print("FAIL", failure)
    print("%s: %d failure(s)" % (pathlib.Path(__file__).name, len(failures)))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
