// The tool's Chinese narrow texts, and the only place they are written.
// Every text inside the tool is CP936 (log lines, labels, the debugger
// output); the front end converts them from code page 936 where they reach
// the screen. GCC could convert literals to that code page, clang cannot,
// so each text is kept here as CP936 byte escapes with its UTF-8 text beside
// it: the Windows builds take the escapes, whatever the compiler; host builds
// (the native tests, which compare log lines with UTF-8 literals) take the
// UTF-8 text. A native test decodes every escape from code page 936 and
// compares it with its UTF-8 text; a source check rejects a narrow literal
// with non-ASCII text anywhere else in the tool.
#pragma once

// X(name, CP936 bytes, UTF-8 text). A hex escape runs on through every hex
// digit after it, so a digit right after one is escaped too ("\x31" is "1").
#define CP936_TEXTS(X)                                                                             \
    X(kTextSelectDeviceFirst,                                                                      \
      "\xC7\xEB\xCF\xC8\xD1\xA1\xD4\xF1\xC5\xE4\xD6\xC3\xC9\xE8\xB1\xB8\xBB\xF2\xD5\xDF"           \
      "\xB5\xB1\xC7\xB0\xC3\xBB\xD3\xD0\xD5\xD2\xB5\xBD\xC5\xE4\xD6\xC3\xC9\xE8\xB1\xB8.",         \
      "请先选择配置设备或者当前没有找到配置设备.")                                                 \
    X(kTextConfigSucceeded, ">>>>\xC5\xE4\xD6\xC3\xB3\xC9\xB9\xA6!", ">>>>配置成功!")              \
    X(kTextConfigFailed, ">>>>\xC5\xE4\xD6\xC3\xCA\xA7\xB0\xDC!", ">>>>配置失败!")                 \
    X(kTextPorts0To1, "PORT0\xA1\xAB\x31", "PORT0～1")                                             \
    X(kTextPorts0To2, "PORT0\xA1\xAB\x32", "PORT0～2")                                             \
    X(kTextPorts0To3, "PORT0\xA1\xAB\x33", "PORT0～3")                                             \
    X(kTextPorts0To4, "PORT0\xA1\xAB\x34", "PORT0～4")                                             \
    X(kTextPorts0To5, "PORT0\xA1\xAB\x35", "PORT0～5")                                             \
    X(kTextPorts0To6, "PORT0\xA1\xAB\x36", "PORT0～6")                                             \
    X(kTextPorts0To7, "PORT0\xA1\xAB\x37", "PORT0～7")

#if defined(_WIN32)
#define CP936_TEXT_DEFINE(name, cp936, utf8) inline constexpr char name[] = cp936;
#else
#define CP936_TEXT_DEFINE(name, cp936, utf8) inline constexpr char name[] = utf8;
#endif
CP936_TEXTS(CP936_TEXT_DEFINE)
#undef CP936_TEXT_DEFINE
