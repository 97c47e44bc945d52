"""Checks of the built tool. Each check takes what it looks at and returns a
list of problems (empty when all is well), so the same function serves the
real exe and the deliberately broken copies of check_faults.py."""
import re
import struct
import subprocess
import xml.etree.ElementTree as ElementTree

from pe_file import PeError, PeFile, RT_DIALOG, RT_GROUP_ICON, RT_ICON, RT_MANIFEST, RT_VERSION, parse_dialog_ex

WS_VISIBLE = 0x10000000
WS_DISABLED = 0x08000000
WS_TABSTOP = 0x00010000
WS_VSCROLL = 0x00200000
WS_BORDER = 0x00800000
WS_POPUP = 0x80000000
WS_CAPTION = 0x00C00000
WS_SYSMENU = 0x00080000
WS_MINIMIZEBOX = 0x00020000
WS_MAXIMIZEBOX = 0x00010000
WS_THICKFRAME = 0x00040000
DS_MODALFRAME = 0x80
DS_CENTER = 0x800
BS_TYPEMASK = 0xF
BS_PUSHBUTTON, BS_DEFPUSHBUTTON, BS_AUTOCHECKBOX, BS_GROUPBOX = 0, 1, 3, 7
CBS_TYPEMASK, CBS_DROPDOWN, CBS_SORT = 0x3, 0x2, 0x100
ES_MULTILINE, ES_AUTOVSCROLL, ES_AUTOHSCROLL, ES_READONLY = 0x4, 0x40, 0x80, 0x800

# The controls a user meets, in template order, which is reading order and so
# tab order: id (-1 for labels and group boxes), kind, caption, place; the
# kinds' style rules are in _kind_problems. A "name" is a hidden label that
# names the field after it for screen readers where no label shows.
SHOWN_CONTROLS = [
    (-1, "group", "设备选择", (3, 2, 290, 48)),
    (-1, "label", "设备列表:", (8, 14, 37, 8)),
    (1011, "combo", "", (52, 12, 124, 160)),
    (-1, "name", "设备信息", (9, 29, 277, 13)),
    (1018, "info", "", (9, 29, 277, 13)),
    (-1, "group", "配置选项", (3, 52, 291, 57)),
    (-1, "label", "下载端口选择:", (8, 70, 50, 8)),
    (10345, "sorted-combo", "", (61, 68, 79, 80)),
    (-1, "label", "下载完成后等待时间(ms):", (148, 70, 88, 8)),
    (10346, "number", "", (239, 68, 46, 13)),
    (10348, "check", "下载完成后端口不断电", (9, 90, 84, 10)),
    (10347, "check", "开启机器控制信号", (100, 90, 75, 10)),
    (10344, "check", "限制下载次数", (185, 89, 58, 10)),
    (-1, "name", "限制下载次数", (246, 88, 38, 13)),
    (10349, "number", "", (246, 88, 38, 13)),
    (1007, "push", "查找设备", (155, 113, 65, 18)),
    (1004, "push", "配置", (228, 113, 65, 18)),
    (-1, "name", "记录", (2, 136, 292, 39)),
    (1009, "log", "", (2, 136, 292, 39)),
    (1008, "push", "清空记录", (228, 179, 65, 18)),
]
# Fields are named by the static right before them; what a user operates is a
# tab stop, nothing else is.
FIELD_KINDS = {"combo", "sorted-combo", "info", "log", "number"}
TAB_STOP_KINDS = FIELD_KINDS | {"push", "check"}

# Controls that are never shown; their place is free but must not cover a
# visible control.
HIDDEN_CONTROLS = [
    (1029, "check", "串口免按键下载功能"),
    (1030, "check", "设备插拔通知"),
    (1032, "push", "设置ISP选项"),
    (10330, "check", "设备插入后自动下载"),
    (10332, "readonly", ""),
    (-1, "label", "下载计数:"),
]

# The library probe loads the ISP library by path and shows no window.
PROBE_DLLS = {"KERNEL32.DLL", "MSVCRT.DLL", "BCRYPT.DLL", "VERSION.DLL"}
ALLOWED_DLLS = {"KERNEL32.DLL", "USER32.DLL", "MSVCRT.DLL", "GDI32.DLL", "COMCTL32.DLL", "TAMLAISPDLL.DLL"}
LIBRARY_IMPORTS = {"Tamla_EnumDevices", "Tamla_SetIspOption", "Tamla_FlashProgramB"}

# Window, drawing and control functions come from these DLLs; a narrow ("A")
# form there would show CP936 bytes decoded with the system's code page.
WINDOW_DLLS = {"USER32.DLL", "GDI32.DLL", "COMCTL32.DLL"}
# Narrow window functions the tool may import: none. (The narrow kernel32
# functions it imports show nothing: OutputDebugStringA, whose CP936 bytes
# are the debugger channel's contract, FindResourceA by number, and the C
# runtime's start-up helpers.)
NARROW_WINDOW_FUNCTIONS_ALLOWED = set()
DEBUG_OUTPUT = "OutputDebugStringA"

ICON_SIZES = (16, 20, 24, 32, 40, 48, 64, 256)

MANIFEST_NS = {"asm1": "urn:schemas-microsoft-com:asm.v1", "asm3": "urn:schemas-microsoft-com:asm.v3",
               "ws2005": "http://schemas.microsoft.com/SMI/2005/WindowsSettings",
               "ws2016": "http://schemas.microsoft.com/SMI/2016/WindowsSettings"}
COMMON_CONTROLS_6 = {"type": "win32", "name": "Microsoft.Windows.Common-Controls", "version": "6.0.0.0",
                     "publicKeyToken": "6595b64144ccf1df"}

def _kind_problems(kind, style, where):
    """Style rules of each kind of control."""
    problems = []

    def need(bits, what):
        if style & bits != bits:
            problems.append("%s: lacks %s (style 0x%08x)" % (where, what, style))

    def forbid(bits, what):
        if style & bits:
            problems.append("%s: must not have %s (style 0x%08x)" % (where, what, style))

    if kind == "push":
        if style & BS_TYPEMASK != BS_PUSHBUTTON:
            problems.append("%s: not a plain push button (type %d)" % (where, style & BS_TYPEMASK))
    elif kind == "check":
        if style & BS_TYPEMASK != BS_AUTOCHECKBOX:
            problems.append("%s: not an auto check box (type %d)" % (where, style & BS_TYPEMASK))
    elif kind == "group":
        if style & BS_TYPEMASK != BS_GROUPBOX:
            problems.append("%s: not a group box" % where)
    elif kind in ("combo", "sorted-combo"):
        if style & CBS_TYPEMASK != CBS_DROPDOWN:
            problems.append("%s: not a drop-down combo with an edit field" % where)
        need(WS_VSCROLL, "WS_VSCROLL")
        if kind == "sorted-combo":
            need(CBS_SORT, "CBS_SORT")
        else:
            forbid(CBS_SORT, "CBS_SORT")
    elif kind == "log":
        need(ES_MULTILINE | ES_AUTOVSCROLL | WS_VSCROLL | WS_BORDER, "multi-line, auto v-scroll, scroll bar, border")
        forbid(ES_READONLY, "ES_READONLY")
    elif kind in ("info", "readonly"):
        need(ES_READONLY | ES_AUTOHSCROLL | WS_BORDER, "read-only, auto h-scroll, border")
        forbid(ES_MULTILINE, "ES_MULTILINE")
    elif kind == "number":
        need(ES_AUTOHSCROLL | WS_BORDER, "auto h-scroll, border")
        forbid(ES_READONLY | ES_MULTILINE, "ES_READONLY or ES_MULTILINE")
    return problems


KIND_CLASS = {"push": "BUTTON", "check": "BUTTON", "group": "BUTTON", "label": "STATIC", "name": "STATIC", "combo": "COMBOBOX",
              "sorted-combo": "COMBOBOX", "log": "EDIT", "info": "EDIT", "readonly": "EDIT", "number": "EDIT"}


# A combo box's height in the template includes its drop-down list; closed,
# it is one text line high.
COMBO_CLOSED_HEIGHT = 14


def _shown_rect(control):
    x, y, w, h = control["rect"]
    if control["class"] == "COMBOBOX":
        h = min(h, COMBO_CLOSED_HEIGHT)
    return x, y, w, h


def _overlaps(a, b):
    ax, ay, aw, ah = a
    bx, by, bw, bh = b
    return ax < bx + bw and bx < ax + aw and ay < by + bh and by < ay + ah


def dialog_problems(pe: PeFile, version: str):
    found = pe.resource(RT_DIALOG, 130)
    if found is None:
        return ["no dialog template 130"]
    try:
        dialog = parse_dialog_ex(*found)
    except (PeError, struct.error) as error:
        return ["dialog 130 unreadable: %s" % error]
    problems = []
    style = dialog["style"]
    wanted = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | DS_MODALFRAME | DS_CENTER
    if style & wanted != wanted:
        problems.append("dialog style 0x%08x lacks 0x%08x" % (style, wanted & ~style))
    if style & (WS_MAXIMIZEBOX | WS_THICKFRAME):
        problems.append("dialog is resizable or maximisable (style 0x%08x)" % style)
    if dialog["rect"][2:] != (298, 201):
        problems.append("dialog size %s, wanted 298 x 201" % (dialog["rect"][2:],))
    if dialog["font"] != (10, "宋体"):
        problems.append("dialog font %s, wanted 10 pt 宋体" % (dialog["font"],))
    caption = dialog["caption"]
    # A Chinese title, then " V" and the project's version.
    if not re.fullmatch(r"[\u4e00-\u9fff]+ V" + re.escape(version), caption):
        problems.append("caption %r is not a Chinese title followed by ' V%s'" % (caption, version))

    controls = dialog["controls"]
    shown, rest = controls[:len(SHOWN_CONTROLS)], controls[len(SHOWN_CONTROLS):]
    for index, (cid, kind, caption, rect) in enumerate(SHOWN_CONTROLS):
        where = "control %d (id %d %r)" % (index, cid, caption)
        if index >= len(shown):
            problems.append("%s: missing" % where)
            continue
        c = shown[index]
        if (c["id"], c["class"], c["caption"], c["rect"]) != (cid, KIND_CLASS[kind], caption, rect):
            problems.append("%s: found id %d %s %r at %s" % (where, c["id"], c["class"], c["caption"], c["rect"]))
            continue
        if bool(c["style"] & WS_VISIBLE) == (kind == "name"):
            problems.append("%s: %s" % (where, "shown" if kind == "name" else "hidden"))
        if kind in FIELD_KINDS and (index == 0 or shown[index - 1]["class"] != "STATIC"):
            problems.append("%s: no static label right before it" % where)
        if bool(c["style"] & WS_TABSTOP) != (kind in TAB_STOP_KINDS):
            problems.append("%s: %s the tab order" % (where, "out of" if kind in TAB_STOP_KINDS else "in"))
        problems += _kind_problems(kind, c["style"], where)
    visible = [c for c in shown if c["style"] & WS_VISIBLE]
    hidden = [c for c in rest if not c["style"] & WS_VISIBLE]
    if len(hidden) < len(rest):
        problems.append("extra visible controls: %s" % [c["id"] for c in rest if c["style"] & WS_VISIBLE])

    remaining = list(hidden)
    for cid, kind, caption in HIDDEN_CONTROLS:
        where = "hidden control id %d %r" % (cid, caption)
        match = [c for c in remaining if c["id"] == cid and c["caption"] == caption
                 and c["class"] == KIND_CLASS[kind]]
        if not match:
            problems.append("%s: missing, visible or of another kind" % where)
            continue
        c = match[0]
        remaining.remove(c)
        problems += _kind_problems(kind, c["style"], where)
        for v in visible:
            if v["class"] != "BUTTON" or v["style"] & BS_TYPEMASK != BS_GROUPBOX:
                if _overlaps(c["rect"], _shown_rect(v)):
                    problems.append("%s at %s covers visible control %d at %s" % (where, c["rect"], v["id"], v["rect"]))
    if remaining:
        problems.append("unexpected hidden controls: %s" % [(c["id"], c["caption"]) for c in remaining])

    label = next((c for c in hidden if c["caption"] == "下载计数:"), None)
    count = next((c for c in hidden if c["id"] == 10332), None)
    if label and count:
        lx, ly, lw, lh = label["rect"]
        cx, cy, cw, ch = count["rect"]
        if not (ly < cy + ch and cy < ly + lh and 0 <= cx - (lx + lw) <= 8):
            problems.append("label 下载计数: at %s is not just left of the count field at %s" % (label["rect"], count["rect"]))

    for c in controls:
        if c["style"] & WS_DISABLED:
            problems.append("control %d starts disabled" % c["id"])
        if c["class"] == "BUTTON" and c["style"] & BS_TYPEMASK == BS_DEFPUSHBUTTON:
            problems.append("control %d is a default push button" % c["id"])
    return problems


def icon_problems(pe: PeFile, sizes=ICON_SIZES):
    found = pe.resource(RT_GROUP_ICON, 107)
    if found is None:
        return ["no icon group 107"]
    data, _ = found
    reserved, kind, count = struct.unpack_from("<HHH", data, 0)
    if (reserved, kind) != (0, 1):
        return ["icon group 107 has a bad header"]
    problems = []
    seen = set()
    for i in range(count):
        width, height, _, _, _, bits, size, icon_id = struct.unpack_from("<BBBBHHIH", data, 6 + 14 * i)
        width, height = width or 256, height or 256
        image = pe.resource(RT_ICON, icon_id)
        if image is None:
            problems.append("icon image %d of group 107 missing" % icon_id)
            continue
        body, _ = image
        if len(body) != size:
            problems.append("icon image %d is %d bytes, group says %d" % (icon_id, len(body), size))
        if body[:4] == b"\x89PNG":
            png_width, png_height = struct.unpack_from(">II", body, 16)
            if (png_width, png_height) != (width, height):
                problems.append("icon image %d: PNG %dx%d does not match %dx%d" % (icon_id, png_width, png_height, width, height))
                continue
            seen.add((width, height))
            continue
        header_size, dib_width, dib_height = struct.unpack_from("<Iii", body, 0)
        if header_size != 40 or (dib_width, dib_height) != (width, 2 * height):
            problems.append("icon image %d: bitmap %dx%d does not match %dx%d" % (icon_id, dib_width, dib_height // 2, width, height))
            continue
        pixels = body[40:40 + width * height * 4] if bits == 32 else b""
        if bits == 32 and len(set(pixels[i:i + 4] for i in range(0, len(pixels), 4))) < 3:
            problems.append("icon image %d (%dx%d) is blank" % (icon_id, width, height))
        seen.add((width, height))
    for s in sizes:
        if (s, s) not in seen:
            problems.append("icon 107 has no %dx%d image" % (s, s))
    return problems


def firmware_problems(pe: PeFile, firmware: bytes):
    found = pe.resource("BIN", 110)
    if found is None:
        return ["no BIN resource 110"]
    data, _ = found
    if data != firmware:
        first = next((i for i, (a, b) in enumerate(zip(data, firmware)) if a != b), min(len(data), len(firmware)))
        return ["BIN 110 (%d bytes) differs from the firmware file (%d bytes) at offset %d" % (len(data), len(firmware), first)]
    return []


def version_problems(pe: PeFile, version: str):
    problems = []
    found = pe.resource(RT_VERSION, 1)
    if found is None:
        problems.append("no version resource")
    else:
        data, _ = found
        at = data.find(struct.pack("<I", 0xFEEF04BD))
        if at < 0:
            problems.append("version resource has no fixed file info")
        else:
            ms, ls = struct.unpack_from("<II", data, at + 8)
            have = "%d.%d.%d" % (ms >> 16, ms & 0xFFFF, ls >> 16)
            if have != version:
                problems.append("file version %s, project version %s" % (have, version))
    found = pe.resource(RT_MANIFEST, 1)
    if found is None:
        problems.append("no application manifest")
    else:
        text = found[0].decode("utf-8", "replace")
        if 'level="asInvoker"' not in text or "supportedOS" not in text:
            problems.append("manifest lacks asInvoker or supportedOS")
    return problems


def manifest_problems(pe: PeFile):
    """Common Controls 6, and per-monitor v2 DPI awareness with the fallbacks
    older Windows read."""
    found = pe.resource(RT_MANIFEST, 1)
    if found is None:
        return ["no application manifest"]
    try:
        root = ElementTree.fromstring(found[0])
    except ElementTree.ParseError as error:
        return ["manifest is not well-formed XML: %s" % error]
    problems = []
    identities = root.findall("asm1:dependency/asm1:dependentAssembly/asm1:assemblyIdentity", MANIFEST_NS)
    controls = [i.attrib for i in identities if i.get("name") == COMMON_CONTROLS_6["name"]]
    if not controls:
        problems.append("no dependency on %s" % COMMON_CONTROLS_6["name"])
    for attributes in controls:
        for key, value in COMMON_CONTROLS_6.items():
            if attributes.get(key, "").lower() != value.lower():
                problems.append("Common Controls dependency: %s=%r, wanted %r" % (key, attributes.get(key), value))
        if attributes.get("processorArchitecture") not in ("*", "x86"):
            problems.append("Common Controls dependency for processor %r" % attributes.get("processorArchitecture"))
    settings = "asm3:application/asm3:windowsSettings/"
    aware = root.find(settings + "ws2005:dpiAware", MANIFEST_NS)
    awareness = root.find(settings + "ws2016:dpiAwareness", MANIFEST_NS)
    if aware is None or (aware.text or "").strip().lower() != "true/pm":
        problems.append("dpiAware is %r, wanted 'true/pm'" % (None if aware is None else aware.text))
    values = [] if awareness is None else [v.strip().lower() for v in (awareness.text or "").split(",")]
    if values[:1] != ["permonitorv2"] or "permonitor" not in values:
        problems.append("dpiAwareness is %r, wanted PerMonitorV2 first and PerMonitor after it"
                        % (None if awareness is None else awareness.text))
    return problems


def cp936_problems(exe: bytes, texts):
    """texts: the (name, CP936 bytes, UTF-8 text) rows of cp936_texts.h, each
    of which the tool logs or shows: its CP936 bytes must be in the exe, its
    UTF-8 bytes must not."""
    problems = []
    if not texts:
        return ["no texts to look for"]
    for name, cp936, text in texts:
        if cp936 not in exe:
            problems.append("CP936 bytes of %s (%r) not in the exe" % (name, text))
        if text.encode("utf-8") in exe:
            problems.append("UTF-8 bytes of %s (%r) in the exe: the build took the host's texts" % (name, text))
    return problems


# One imported name under a "DLL Name:" line. GNU objdump prints the
# entry's address, the hint and the name; llvm-objdump the hint and the name.
_IMPORT_ENTRY = re.compile(r"\s*(?:[0-9a-f]+\s+)?\d+\s+(\S+)$")


def path_problems(exe: bytes, folders):
    """A folder of the machine that built the binary (source or build tree),
    narrow or wide: the same commit built elsewhere would give other bytes."""
    problems = []
    for folder in folders:
        for form, encoded in (("narrow", folder.encode("utf-8")), ("wide", folder.encode("utf-16-le"))):
            if encoded in exe:
                problems.append("holds the build machine's folder %s (%s)" % (folder, form))
    return problems


def read_imports(objdump_output: str):
    """{DLL name: set of imported names} from `objdump -p`, GNU or LLVM."""
    imports = {}
    current = None
    for line in objdump_output.splitlines():
        m = re.match(r"\s*DLL Name: (\S+)", line)
        if m:
            current = m.group(1)
            imports.setdefault(current, set())
            continue
        m = _IMPORT_ENTRY.match(line)
        if current and m:
            imports[current].add(m.group(1))
        elif line.strip() and not line.strip().startswith(("vma:", "Hint/Ord")):
            # The table's own header lines aside, anything else ends the DLL.
            current = None
    return imports


def import_problems(exe_path: str, objdump: str):
    """Reads the import table as objdump (GNU or LLVM) prints it."""
    out = subprocess.run([objdump, "-p", exe_path], check=True, capture_output=True, text=True).stdout
    imports = read_imports(out)
    problems = []
    if not imports:
        return ["objdump shows no imports"]
    for dll in imports:
        if dll.upper() not in ALLOWED_DLLS:
            problems.append("imports %s" % dll)
    library = {n for dll, names in imports.items() if dll.upper() == "TAMLAISPDLL.DLL" for n in names}
    if library != LIBRARY_IMPORTS:
        problems.append("TAMLAISPDLL.DLL imports %s, wanted %s" % (sorted(library), sorted(LIBRARY_IMPORTS)))
    narrow = sorted(n for dll, names in imports.items() if dll.upper() in WINDOW_DLLS
                    for n in names if re.search(r"[a-z0-9]A$", n) and n not in NARROW_WINDOW_FUNCTIONS_ALLOWED)
    if narrow:
        problems.append("narrow window functions imported: %s" % narrow)
    kernel = {n for dll, names in imports.items() if dll.upper() == "KERNEL32.DLL" for n in names}
    if DEBUG_OUTPUT not in kernel or "OutputDebugStringW" in kernel:
        problems.append("debugger output not through %s alone" % DEBUG_OUTPUT)
    return problems


def testing_functions(headers):
    """Names of the functions the core's headers declare for the tests only,
    inside #if CORE_TESTING blocks."""
    names = set()
    for text in headers:
        for block in re.findall(r"#if CORE_TESTING\n(.*?)#endif", text, re.S):
            names.update(re.findall(r"\b([A-Za-z_]\w*)\(\)\s*;", block))
    return sorted(names)


def test_support_problems(link_map: str, names):
    """The tool's link map must name the core's functions and none of the
    test-only ones."""
    if not names:
        return ["no test-only function found in the core's headers"]
    if "RefreshDeviceList()" not in link_map:
        return ["the link map does not list the core's functions"]
    return ["%s() is linked into the tool" % name for name in names if name + "()" in link_map]


def probe_import_problems(exe_path: str, objdump: str):
    """The probe must not import the ISP library (Windows would search for
    it and refuse to start the probe without one), nor the window DLLs."""
    out = subprocess.run([objdump, "-p", exe_path], check=True, capture_output=True, text=True).stdout
    imports = read_imports(out)
    if not imports:
        return ["objdump shows no imports"]
    return ["imports %s" % dll for dll in sorted(imports) if dll.upper() not in PROBE_DLLS]
