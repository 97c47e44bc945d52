"""Reads what the checks need from a PE file (x86 or x64): its resources and the
main dialog's template. Standard library only; offsets into the file are
kept so the fault-injection test can alter exactly one field."""
import struct

RT_ICON = 3
RT_DIALOG = 5
RT_GROUP_ICON = 14
RT_VERSION = 16
RT_MANIFEST = 24

# Predefined window classes of a dialog template, by atom.
CLASS_ATOMS = {0x80: "BUTTON", 0x81: "EDIT", 0x82: "STATIC", 0x83: "LISTBOX",
               0x84: "SCROLLBAR", 0x85: "COMBOBOX"}


# Machine field: (name, optional header magic, offset of the data
# directories in the optional header). The release is x86; the x64 twin is
# read by the same checks.
MACHINES = {0x14C: ("x86", 0x10B, 96), 0x8664: ("x64", 0x20B, 112)}


class PeError(Exception):
    pass


class PeFile:
    def __init__(self, data: bytes):
        self.data = bytes(data)
        if self.data[:2] != b"MZ":
            raise PeError("no MZ header")
        pe = struct.unpack_from("<I", self.data, 0x3C)[0]
        if self.data[pe:pe + 4] != b"PE\0\0":
            raise PeError("no PE signature")
        machine, sections, _, _, _, optional_size, _ = struct.unpack_from("<HHIIIHH", self.data, pe + 4)
        if machine not in MACHINES:
            raise PeError("neither an x86 nor an x64 image (machine 0x%x)" % machine)
        self.machine, magic, directories = MACHINES[machine]
        optional = pe + 24
        if struct.unpack_from("<H", self.data, optional)[0] != magic:
            raise PeError("an %s image without its optional header" % self.machine)
        self.resource_rva, self.resource_size = struct.unpack_from("<II", self.data, optional + directories + 2 * 8)
        self.sections = []
        table = optional + optional_size
        for i in range(sections):
            name, vsize, vaddr, raw_size, raw_ptr = struct.unpack_from("<8sIIII", self.data, table + 40 * i)
            self.sections.append((name.rstrip(b"\0").decode("ascii", "replace"), vaddr, max(vsize, raw_size), raw_ptr, raw_size))
        self.resources = self._read_resources()

    def offset_of(self, rva: int) -> int:
        for _, vaddr, size, raw_ptr, raw_size in self.sections:
            if vaddr <= rva < vaddr + size:
                if rva - vaddr >= raw_size:
                    raise PeError("RVA 0x%x lies in uninitialised data" % rva)
                return raw_ptr + rva - vaddr
        raise PeError("RVA 0x%x outside every section" % rva)

    def _read_resources(self):
        """{(type, name): [(language, file offset, size)]}; names are ints or str."""
        found = {}
        if self.resource_rva == 0:
            return found
        base = self.offset_of(self.resource_rva)

        def entries(offset):
            named, ids = struct.unpack_from("<HH", self.data, base + offset + 12)
            for i in range(named + ids):
                name, target = struct.unpack_from("<II", self.data, base + offset + 16 + 8 * i)
                if name & 0x80000000:
                    length = struct.unpack_from("<H", self.data, base + (name & 0x7FFFFFFF))[0]
                    start = base + (name & 0x7FFFFFFF) + 2
                    name = self.data[start:start + 2 * length].decode("utf-16-le")
                yield name, target

        for rtype, type_dir in entries(0):
            for rname, name_dir in entries(type_dir & 0x7FFFFFFF):
                for lang, leaf in entries(name_dir & 0x7FFFFFFF):
                    if leaf & 0x80000000:
                        raise PeError("resource tree deeper than three levels")
                    rva, size = struct.unpack_from("<II", self.data, base + leaf)
                    found.setdefault((rtype, rname), []).append((lang, self.offset_of(rva), size))
        return found

    def resource(self, rtype, name):
        """Bytes and file offset of the first language of a resource, or None."""
        items = self.resources.get((rtype, name))
        if not items:
            return None
        _, offset, size = items[0]
        return self.data[offset:offset + size], offset


def _sz_or_ord(data, pos):
    """Reads a name-or-ordinal field; returns (value, next position)."""
    first = struct.unpack_from("<H", data, pos)[0]
    if first == 0xFFFF:
        return struct.unpack_from("<H", data, pos + 2)[0], pos + 4
    end = pos
    while struct.unpack_from("<H", data, end)[0] != 0:
        end += 2
    return data[pos:end].decode("utf-16-le"), end + 2


def parse_dialog_ex(data: bytes, base_offset: int = 0):
    """Parses an extended dialog template. Each control records the file
    offset of its style field (base_offset + position in the template)."""
    version, signature = struct.unpack_from("<HH", data, 0)
    if (version, signature) != (1, 0xFFFF):
        raise PeError("not an extended dialog template")
    _, ex_style, style, count, x, y, cx, cy = struct.unpack_from("<IIIHhhhh", data, 4)
    pos = 26
    menu, pos = _sz_or_ord(data, pos)
    window_class, pos = _sz_or_ord(data, pos)
    caption, pos = _sz_or_ord(data, pos)
    dialog = {"style": style, "ex_style": ex_style, "rect": (x, y, cx, cy), "menu": menu,
              "class": window_class, "caption": caption, "font": None, "controls": []}
    if style & 0x40:  # DS_SETFONT
        points, weight, italic, charset = struct.unpack_from("<HHBB", data, pos)
        face, pos = _sz_or_ord(data, pos + 6)
        dialog["font"] = (points, face)
    for _ in range(count):
        pos = (pos + 3) & ~3
        style_pos = pos + 8
        _, ex, st, x, y, cx, cy, cid = struct.unpack_from("<IIIhhhhI", data, pos)
        cls, pos = _sz_or_ord(data, pos + 24)
        text, pos = _sz_or_ord(data, pos)
        extra = struct.unpack_from("<H", data, pos)[0]
        pos += 2 + extra
        if isinstance(cls, int):
            cls = CLASS_ATOMS.get(cls, "#%d" % cls)
        if cid == 0xFFFFFFFF or cid == 0xFFFF:
            cid = -1
        dialog["controls"].append({"id": cid, "class": cls.upper(), "caption": text if isinstance(text, str) else "",
                                   "style": st, "ex_style": ex, "rect": (x, y, cx, cy),
                                   "style_offset": base_offset + style_pos})
    return dialog
