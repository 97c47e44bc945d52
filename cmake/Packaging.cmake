# Zip packages of the Windows build: the release package for users (the tool
# and its readme) and a separate developer package with the stand-in library,
# which must never reach users in place of the maker's library. The developer
# package is the kit that checks the tool on Windows: the same exe, the
# stand-in library, and the end-to-end driver with its verify.cmd
# (tests/e2e/CMakeLists.txt).
install(TARGETS ProgrammerSetup RUNTIME DESTINATION . COMPONENT application)
install(FILES ${CMAKE_SOURCE_DIR}/docs/user-readme.txt DESTINATION . COMPONENT application)
install(TARGETS ProgrammerSetup RUNTIME DESTINATION . COMPONENT developer)
install(TARGETS tamla_standin RUNTIME DESTINATION . COMPONENT developer)

# The exe's SHA-256 in the build's output; packaging lists it again with the
# zips' in SHA256SUMS.
add_custom_command(TARGET ProgrammerSetup POST_BUILD
    COMMAND ${CMAKE_COMMAND} -E sha256sum $<TARGET_FILE:ProgrammerSetup> VERBATIM)

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME ProgrammerSetup)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Offline programmer configuration tool")
set(CPACK_ARCHIVE_COMPONENT_INSTALL ON)
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    set(_package ProgrammerSetup-${PROJECT_VERSION}-win32)
    set(CPACK_COMPONENTS_ALL application developer)
else()
    # The x64 twin is never released: its kit lets a host without 32-bit
    # code run the kit's verify.cmd all the same.
    set(_package ProgrammerSetup-${PROJECT_VERSION}-win64)
    set(CPACK_COMPONENTS_ALL developer)
endif()
set(CPACK_PACKAGE_FILE_NAME ${_package})
set(CPACK_ARCHIVE_APPLICATION_FILE_NAME ${_package})
set(CPACK_ARCHIVE_DEVELOPER_FILE_NAME ${_package}-developer)
# Files at the top of each zip, no extra folder.
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
# The same files give the same zip bytes (entry times from the source date,
# cmake/Reproducible.cmake), and SHA256SUMS beside the zips.
find_package(Python3 REQUIRED COMPONENTS Interpreter)
set(CPACK_FINISH_PYTHON ${Python3_EXECUTABLE})
set(CPACK_FINISH_SCRIPT ${CMAKE_CURRENT_LIST_DIR}/finish-zips.py)
set(CPACK_SOURCE_DATE_FILE ${SOURCE_DATE_FILE})
set(CPACK_POST_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/PackageFinish.cmake)
include(CPack)
