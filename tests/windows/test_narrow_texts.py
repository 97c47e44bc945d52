#!/usr/bin/env python3
"""The reader of cp936_texts.h and the finder of stray Chinese narrow
literals, on small sources made here: each case is a way a literal could slip
past, or a text that must not be taken for one."""
import pathlib
import sys
import tempfile

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent))
from narrow_texts import header_texts, non_ascii_narrow_literals, source_problems  # noqa: E402

failures = 0


def expect(what, got, wanted):
    global failures
    if got != wanted:
        print("FAIL %s: got %r, wanted %r" % (what, got, wanted))
        failures += 1
    else:
        print("ok   %s" % what)


def lines(source):
    return [line for line, _ in non_ascii_narrow_literals(source)]


expect("narrow string literal found, on its line",
       lines('int a;\n    LogPrintf("请先选择配置设备.");\n'), [2])
expect("narrow character and raw literals found",
       lines("char c = '～';\nconst char* r = R\"x(配置)x\";\n"), [1, 2])
expect("wide, u8, u, U and wide raw literals pass",
       lines('L"配置"; u8"配置"; u"配置"; U"配置"; LR"(配置)";'), [])
expect("comments pass, a literal after one is still found",
       lines('// "配置"\n/* "配置"\n */ x = "成功";\n'), [3])
expect("a digit separator opens no character literal",
       lines("int n = 1'0; const char* s = \"'配置\";\n"), [1])
expect("an apostrophe or escaped quote inside a string ends nothing",
       lines('a = "it\'s"; b = "say \\"配置\\"";'), [1])

HEADER = r'''// X(name, CP936 bytes, UTF-8 text)
#define CP936_TEXTS(X) \
    X(kOne, \
      "\xC5\xE4" \
      "\xD6\xC3!", "配置!") \
    X(kTwo, "PORT0\xA1\xAB\x37", "PORT0～7")
#define CP936_TEXT_DEFINE(name, cp936, utf8) inline constexpr char name[] = cp936;
'''
expect("header rows read, with literals split over lines",
       header_texts(HEADER), [("kOne", b"\xc5\xe4\xd6\xc3!", "配置!"), ("kTwo", b"PORT0\xa1\xab7", "PORT0～7")])

with tempfile.TemporaryDirectory() as folder:
    root = pathlib.Path(folder)
    (root / "core").mkdir()
    header = root / "core" / "cp936_texts.h"
    header.write_text(HEADER, encoding="utf-8")
    (root / "core" / "clean.cpp").write_text('LogPrintf("%s", kOne);\n', encoding="utf-8")
    (root / "core" / "stray.cpp").write_text('x;\nSetText("配置成功");\n', encoding="utf-8")
    problems = source_problems(header, [root])
    expect("sources: the header passes, one stray literal reported with file and line",
           [p.split(": ")[0] for p in problems], ["%s:2" % (root / "core" / "stray.cpp")])

sys.exit(1 if failures else 0)
