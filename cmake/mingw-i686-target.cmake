# What both Windows toolchains share: 32-bit Windows through Debian's
# MinGW-w64 headers and libraries, the GNU resource compiler and dlltool,
# and a static runtime so the exe needs no DLL of the compiler's.
set(CMAKE_SYSTEM_NAME Windows)
# The x64 twin (mingw-x86_64.cmake) names its own target before it comes here.
if(NOT DEFINED MINGW_PREFIX)
    set(CMAKE_SYSTEM_PROCESSOR x86)
    set(MINGW_PREFIX i686-w64-mingw32)
endif()

set(CMAKE_RC_COMPILER ${MINGW_PREFIX}-windres)
set(CMAKE_DLLTOOL ${MINGW_PREFIX}-dlltool CACHE FILEPATH "")

set(CMAKE_FIND_ROOT_PATH /usr/${MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# Sources are UTF-8 and narrow literals stay UTF-8 with either compiler (clang
# can do nothing else); the CP936 texts are byte escapes in cp936_texts.h.
set(MINGW_CXX_FLAGS "-finput-charset=UTF-8 -D__USE_MINGW_ANSI_STDIO=1")
set(MINGW_STATIC_LINK_FLAGS "-static -static-libgcc -static-libstdc++")
