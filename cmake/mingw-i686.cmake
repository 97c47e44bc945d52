# Cross-compilation to 32-bit Windows with Debian's MinGW-w64 GCC (posix thread
# model, so std::mutex is available; winpthreads is linked statically).
include(${CMAKE_CURRENT_LIST_DIR}/mingw-i686-target.cmake)

set(CMAKE_C_COMPILER ${MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${MINGW_PREFIX}-g++-posix)
set(CMAKE_AR ${MINGW_PREFIX}-ar CACHE FILEPATH "")
set(CMAKE_RANLIB ${MINGW_PREFIX}-ranlib CACHE FILEPATH "")
set(CMAKE_OBJDUMP ${MINGW_PREFIX}-objdump CACHE FILEPATH "")
set(CMAKE_STRIP ${MINGW_PREFIX}-strip CACHE FILEPATH "")

set(CMAKE_CXX_FLAGS_INIT "${MINGW_CXX_FLAGS}")
set(CMAKE_EXE_LINKER_FLAGS_INIT "${MINGW_STATIC_LINK_FLAGS}")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "${MINGW_STATIC_LINK_FLAGS}")
