#!/usr/bin/env python3
"""Writes res/firmware.bin, the stand-in firmware payload (29135 bytes).

The maker's firmware replaces this file for shipping. The stand-in is a
deterministic byte pattern with a readable header, so tests can tell payload
bytes from erased (0xFF) space: no byte of it is 0xFF. Run it again and the
same file comes out.
"""
import pathlib
import sys

SIZE = 29135
HEADER = b"STAND-IN PROGRAMMER FIRMWARE, NOT FOR SHIPPING\x00"


def payload() -> bytes:
    out = bytearray(b"\x02\x00\x30")  # a jump over the header, as 8051 code starts
    out += HEADER
    state = 0x1234ABCD
    while len(out) < SIZE:
        state = (state * 1103515245 + 12345) & 0x7FFFFFFF  # classic LCG
        byte = (state >> 16) & 0xFF
        out.append(byte if byte != 0xFF else 0xFE)
    return bytes(out[:SIZE])


if __name__ == "__main__":
    target = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else
                          pathlib.Path(__file__).resolve().parent.parent / "res" / "firmware.bin")
    target.write_bytes(payload())
    print(f"{target}: {SIZE} bytes")
