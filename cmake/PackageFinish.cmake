# CPack post-build script (cmake/Packaging.cmake): the zips rewritten to the
# same bytes for the same files, and their SHA256SUMS, by finish-zips.py.
if(NOT EXISTS "${CPACK_SOURCE_DATE_FILE}")
    message(FATAL_ERROR "${CPACK_SOURCE_DATE_FILE} is missing: build before packaging")
endif()
file(READ "${CPACK_SOURCE_DATE_FILE}" epoch)
string(STRIP "${epoch}" epoch)
execute_process(COMMAND "${CPACK_FINISH_PYTHON}" "${CPACK_FINISH_SCRIPT}" --epoch ${epoch}
                        --exe ProgrammerSetup.exe --sums-dir "${CPACK_PACKAGE_DIRECTORY}"
                        ${CPACK_PACKAGE_FILES}
                RESULT_VARIABLE result)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "finish-zips.py failed (${result})")
endif()
