# The x64 twin of the Windows build: the same tree through Debian's MinGW-w64
# x86_64 GCC, for hosts whose Wine runs no 32-bit code. A test and demo
# vehicle only; the release stays the 32-bit exe.
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(MINGW_PREFIX x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-i686.cmake)

# The option record's callback field is 4 bytes, so an exe that registers a
# callback must lie below 4 GiB, at a fixed address (MinGW's default x64 base
# is 0x140000000, and a dynamic or high-entropy base may move it higher).
string(APPEND CMAKE_EXE_LINKER_FLAGS_INIT
       " -Wl,--image-base,0x10000000 -Wl,--disable-dynamicbase -Wl,--disable-high-entropy-va")
