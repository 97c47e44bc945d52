#!/usr/bin/env python3
"""Proves the checks of check_exe.py can fail: each case breaks one thing in
a copy of the built exe, and the check that guards it must report it.

Usage: check_faults.py --exe PATH --firmware PATH --version X.Y.Z --texts cp936_texts.h [--objdump PATH]
                       [--forbid FOLDER]..."""
import argparse
import pathlib
import struct
import sys
import tempfile

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent))
import exe_checks  # noqa: E402
import narrow_texts  # noqa: E402
from pe_file import PeFile, RT_DIALOG, RT_GROUP_ICON, RT_ICON, parse_dialog_ex  # noqa: E402


def set_style(data, control_id, change, caption=None):
    """Copy of data with one control's style word passed through change; a
    caption picks one of the labels, which share an id."""
    pe = PeFile(data)
    dialog = parse_dialog_ex(*pe.resource(RT_DIALOG, 130))
    control = next(c for c in dialog["controls"] if c["id"] == control_id and caption in (None, c["caption"]))
    out = bytearray(data)
    struct.pack_into("<I", out, control["style_offset"], change(control["style"]))
    return bytes(out)


def set_field(data, control_id, delta_offset, fmt, *values):
    """Copy with a field at a fixed distance from a control's style word."""
    pe = PeFile(data)
    dialog = parse_dialog_ex(*pe.resource(RT_DIALOG, 130))
    control = next(c for c in dialog["controls"] if c["id"] == control_id)
    out = bytearray(data)
    struct.pack_into(fmt, out, control["style_offset"] + delta_offset, *values)
    return bytes(out)


def replace_once(data, old, new):
    assert len(old) == len(new) and data.count(old) >= 1, old
    return data.replace(old, new, 1)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--exe", required=True)
    parser.add_argument("--firmware", required=True)
    parser.add_argument("--version", required=True)
    parser.add_argument("--objdump", default="i686-w64-mingw32-objdump")
    parser.add_argument("--texts", required=True)
    parser.add_argument("--forbid", action="append", default=[])
    parser.add_argument("--map", required=True)
    parser.add_argument("--core", required=True)
    args = parser.parse_args()
    exe = pathlib.Path(args.exe).read_bytes()
    firmware = pathlib.Path(args.firmware).read_bytes()
    version = args.version
    texts = narrow_texts.header_texts(pathlib.Path(args.texts).read_text(encoding="utf-8"))

    def dialog(data):
        return exe_checks.dialog_problems(PeFile(data), version)

    def icon(data):
        return exe_checks.icon_problems(PeFile(data))

    def bin_resource(data):
        return exe_checks.firmware_problems(PeFile(data), firmware)

    def versions(data):
        return exe_checks.version_problems(PeFile(data), version)

    def manifest(data):
        return exe_checks.manifest_problems(PeFile(data))

    def cp936(data):
        return exe_checks.cp936_problems(data, texts)

    def paths(data):
        return exe_checks.path_problems(data, args.forbid)

    link_map = pathlib.Path(args.map).read_bytes()
    testing = exe_checks.testing_functions(
        p.read_text(encoding="utf-8") for p in sorted(pathlib.Path(args.core).glob("*.h")))

    # Runs on the link map, not the exe.
    def test_support(data):
        return exe_checks.test_support_problems(data.decode(errors="replace"), testing)

    def imports(data):
        with tempfile.NamedTemporaryFile(suffix=".exe") as f:
            f.write(data)
            f.flush()
            return exe_checks.import_problems(f.name, args.objdump)

    pe = PeFile(exe)
    bin_offset = pe.resource("BIN", 110)[1]
    icon_offset = pe.resource(RT_ICON, 1)[1]
    # The group's last entry is the 256-pixel PNG image; say it is 128.
    group_offset = pe.resource(RT_GROUP_ICON, 107)[1]
    last_entry = group_offset + 6 + 14 * (len(exe_checks.ICON_SIZES) - 1)
    cases = [
        ("hidden check box made visible", dialog, set_style(exe, 1030, lambda s: s | exe_checks.WS_VISIBLE)),
        ("visible button hidden", dialog, set_style(exe, 1007, lambda s: s & ~exe_checks.WS_VISIBLE)),
        ("default push button", dialog, set_style(exe, 1004, lambda s: s | exe_checks.BS_DEFPUSHBUTTON)),
        ("port list not sorted", dialog, set_style(exe, 10345, lambda s: s & ~exe_checks.CBS_SORT)),
        ("device list sorted", dialog, set_style(exe, 1011, lambda s: s | exe_checks.CBS_SORT)),
        ("log read-only", dialog, set_style(exe, 1009, lambda s: s | exe_checks.ES_READONLY)),
        ("info box editable", dialog, set_style(exe, 1018, lambda s: s & ~exe_checks.ES_READONLY)),
        ("info line out of the tab order", dialog, set_style(exe, 1018, lambda s: s & ~exe_checks.WS_TABSTOP)),
        ("log's hidden label shown", dialog, set_style(exe, -1, lambda s: s | exe_checks.WS_VISIBLE, "记录")),
        ("control starts disabled", dialog, set_style(exe, 10349, lambda s: s | exe_checks.WS_DISABLED)),
        ("control moved", dialog, set_field(exe, 10346, 4, "<h", 240)),
        ("control id changed", dialog, set_field(exe, 10347, 12, "<I", 10348)),
        ("hidden control over a visible one", dialog, set_field(exe, 1032, 4, "<hh", 160, 115)),
        ("caption changed", dialog, replace_once(exe, "清空记录".encode("utf-16-le"), "清除记录".encode("utf-16-le"))),
        ("title version changed", dialog, replace_once(exe, (" V" + version).encode("utf-16-le"),
                                                      (" X" + version).encode("utf-16-le"))),
        ("icon image blanked", icon, exe[:icon_offset + 40] + bytes(1024) + exe[icon_offset + 40 + 1024:]),
        ("icon size changed", icon, exe[:icon_offset + 4] + struct.pack("<i", 17) + exe[icon_offset + 8:]),
        ("256-pixel icon said to be 128", icon, exe[:last_entry] + bytes([128, 128]) + exe[last_entry + 2:]),
        ("no Common Controls 6", manifest, replace_once(exe, b"Common-Controls", b"Common-Kontrols")),
        ("per-monitor v2 dropped", manifest, replace_once(exe, b"PerMonitorV2, PerMonitor", b"PerMonitor, PerMonitorV2")),
        ("no true/pm fallback", manifest, replace_once(exe, b">true/pm<", b">true   <")),
        ("payload byte changed", bin_resource, exe[:bin_offset + 100] + bytes([exe[bin_offset + 100] ^ 1]) + exe[bin_offset + 101:]),
        ("manifest level changed", versions, replace_once(exe, b'level="asInvoker"', b'level="asInvokeX"')),
        ("CP936 text changed", cp936, replace_once(exe, "配置成功".encode("gbk"), "配置失败".encode("gbk"))),
        ("UTF-8 copy of a text", cp936, exe + ">>>>配置失败!".encode("utf-8")),
        ("source path in a text", paths, exe + (args.forbid[0] + "/src/ui/main_dialog.cpp").encode("utf-8")),
        ("build path as a wide text", paths, exe + (args.forbid[-1] + "/app_build.h").encode("utf-16-le")),
        ("extra DLL imported", imports, replace_once(exe, b"USER32.dll", b"WS2_32.dll")),
        ("library import renamed", imports, replace_once(exe, b"Tamla_SetIspOption\0", b"Tamla_SetIspOptioX\0")),
        ("narrow text function imported", imports, replace_once(exe, b"SetDlgItemTextW\0", b"SetDlgItemTextA\0")),
        ("narrow dialog imported", imports, replace_once(exe, b"DialogBoxParamW\0", b"DialogBoxParamA\0")),
        ("debugger output made wide", imports, replace_once(exe, b"OutputDebugStringA\0", b"OutputDebugStringW\0")),
        ("test-only view linked in", test_support, link_map + b"\n  0x00401000  WorkInProgress()\n"),
        ("link map of something else", test_support, b"0x00401000  main()\n"),
    ]
    failures = 0
    for name, check, broken in cases:
        problems = check(broken)
        if problems:
            print("ok   %-36s caught: %s" % (name, problems[0]))
        else:
            print("FAIL %-36s not caught" % name)
            failures += 1
    # The same checks pass on the unaltered exe, so the catches above are
    # caused by the faults and not by the checks always failing.
    for check, data in [(c, exe) for c in (dialog, icon, bin_resource, versions, manifest, cp936, paths,
                                           imports)] + [(test_support, link_map)]:
        problems = check(data)
        if problems:
            print("FAIL unaltered exe: %s" % problems)
            failures += 1
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
