# Cross-compilation to 32-bit Windows with clang and lld over the same
# MinGW-w64 headers and libraries as mingw-i686.cmake, the C++ runtime
# included: clang 14 does not find Debian's versioned MinGW GCC folders
# ("12-posix") by itself, so they are named here.
include(${CMAKE_CURRENT_LIST_DIR}/mingw-i686-target.cmake)

set(CMAKE_C_COMPILER clang)
set(CMAKE_CXX_COMPILER clang++)
set(CMAKE_C_COMPILER_TARGET ${MINGW_PREFIX})
set(CMAKE_CXX_COMPILER_TARGET ${MINGW_PREFIX})
set(CMAKE_SYSROOT /usr/${MINGW_PREFIX})
set(CMAKE_AR llvm-ar CACHE FILEPATH "")
set(CMAKE_RANLIB llvm-ranlib CACHE FILEPATH "")
# The import check reads either objdump's output; this one keeps the LLVM
# form under test.
set(CMAKE_OBJDUMP llvm-objdump CACHE FILEPATH "")
set(CMAKE_STRIP llvm-strip CACHE FILEPATH "")

# The posix-thread GCC's libstdc++ and libgcc, as the GCC build links them.
execute_process(COMMAND ${MINGW_PREFIX}-g++-posix -print-file-name=libstdc++.a
                OUTPUT_VARIABLE _libstdcxx OUTPUT_STRIP_TRAILING_WHITESPACE
                RESULT_VARIABLE _found)
if(NOT _found EQUAL 0 OR NOT IS_ABSOLUTE "${_libstdcxx}")
    message(FATAL_ERROR "clang build: ${MINGW_PREFIX}-g++-posix (its libstdc++) not found")
endif()
get_filename_component(MINGW_GCC_DIR "${_libstdcxx}" DIRECTORY)
set(_cxx_headers ${MINGW_GCC_DIR}/include/c++)

set(CMAKE_CXX_FLAGS_INIT "${MINGW_CXX_FLAGS} -stdlib++-isystem ${_cxx_headers} \
-stdlib++-isystem ${_cxx_headers}/${MINGW_PREFIX} -stdlib++-isystem ${_cxx_headers}/backward")
# GCC's posix driver adds winpthreads itself; lld finds archives in any order.
set(_link "-fuse-ld=lld ${MINGW_STATIC_LINK_FLAGS} -L${MINGW_GCC_DIR} -lpthread")
set(CMAKE_EXE_LINKER_FLAGS_INIT "${_link}")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "${_link}")
