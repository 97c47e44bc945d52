#!/usr/bin/env python3
"""The tool's Chinese narrow texts: reads the table of src/core/cp936_texts.h,
and finds narrow literals with non-ASCII text anywhere else in the sources.
Such a literal would reach the exe as UTF-8 with either compiler, where the
window shows code page 936.

Usage: narrow_texts.py --header PATH SOURCE_DIR...
Exit status 0 when no source outside the header has one, 1 otherwise."""
import argparse
import pathlib
import re
import sys

_LITERAL_BODY = r'"((?:[^"\\\n]|\\.)*)"'
# One row: X(name, CP936 column, UTF-8 column); each column may be several
# adjacent literals.
_ROW = re.compile(r"\bX\(\s*(\w+)\s*,((?:\s*%s)+)\s*,((?:\s*%s)+)\s*\)" % (_LITERAL_BODY, _LITERAL_BODY))
_ESCAPE = re.compile(r"\\(x[0-9A-Fa-f]+|[0-7]{1,3}|.)", re.S)
_SIMPLE_ESCAPES = {"n": 10, "t": 9, "r": 13, "a": 7, "b": 8, "f": 12, "v": 11, "\\": 92, '"': 34, "'": 39, "?": 63}

# Comments, literals with their prefix, and numbers, so that a digit
# separator (1'000) opens no character literal.
_TOKEN = re.compile(r"""
    //[^\n]*
  | /\*.*?\*/
  | (?P<rprefix>u8|[uUL])?R"(?P<delim>[^()\\\s]{0,16})\((?P<raw>.*?)\)(?P=delim)"
  | (?P<prefix>u8|[uUL])?(?P<quote>["'])(?P<body>(?:(?!(?P=quote))[^\\\n]|\\.)*)(?P=quote)
  | \.?\d(?:[\w.]|'\w|[eEpP][+-])*
""", re.S | re.X)


def c_literal_bytes(body: str) -> bytes:
    """The bytes of a narrow literal's body as a compiler with a UTF-8
    execution character set makes them."""
    out = bytearray()
    pos = 0
    for m in _ESCAPE.finditer(body):
        out += body[pos:m.start()].encode("utf-8")
        code = m.group(1)
        if code[0] == "x":
            value = int(code[1:], 16)
        elif code[0] in "01234567":
            value = int(code, 8)
        elif code in _SIMPLE_ESCAPES:
            value = _SIMPLE_ESCAPES[code]
        else:
            raise ValueError("unknown escape \\%s" % code)
        if value > 0xFF:
            raise ValueError("escape \\%s out of range" % code)
        out.append(value)
        pos = m.end()
    out += body[pos:].encode("utf-8")
    return bytes(out)


def _column(text: str) -> bytes:
    return b"".join(c_literal_bytes(body) for body in re.findall(_LITERAL_BODY, text))


def header_texts(header_text: str):
    """[(name, CP936 bytes, UTF-8 text)] of the header's table."""
    joined = header_text.replace("\\\n", " ")
    return [(m.group(1), _column(m.group(2)), _column(m.group(4)).decode("utf-8"))
            for m in _ROW.finditer(joined)]


def non_ascii_narrow_literals(source: str):
    """[(line, literal)] of each narrow string or character literal whose
    text is not all ASCII. Wide and u8/u/U literals have a fixed encoding."""
    found = []
    for m in _TOKEN.finditer(source):
        if m.group("quote") and not m.group("prefix"):
            text = m.group("body")
        elif m.group("delim") is not None and not m.group("rprefix"):
            text = m.group("raw")
        else:
            continue
        if not text.isascii():
            found.append((source.count("\n", 0, m.start()) + 1, m.group(0)))
    return found


def source_problems(header: pathlib.Path, roots):
    problems = []
    for root in roots:
        for path in sorted(pathlib.Path(root).rglob("*")):
            if path.suffix not in (".cpp", ".h") or path.resolve() == header.resolve():
                continue
            for line, literal in non_ascii_narrow_literals(path.read_text(encoding="utf-8")):
                problems.append("%s:%d: %s: a non-ASCII narrow text belongs in %s"
                                % (path, line, literal, header.name))
    return problems


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--header", required=True)
    parser.add_argument("roots", nargs="+")
    args = parser.parse_args()
    header = pathlib.Path(args.header)
    problems = source_problems(header, args.roots)
    if not header_texts(header.read_text(encoding="utf-8")):
        problems.append("%s: no X(name, CP936, UTF-8) rows found" % header)
    for problem in problems:
        print("FAIL %s" % problem)
    if not problems:
        print("ok narrow texts: none outside %s" % header.name)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
