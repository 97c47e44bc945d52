# A release that builds to the same bytes from the same commit, in any folder
# and at any time: no folder path in what the compiler writes, and the PE
# time stamp (and so the checksum) of the shipped binaries from the source
# date (cmake/SourceDate.cmake) instead of the clock. Debian's MinGW-w64 ld
# takes the stamp from SOURCE_DATE_EPOCH; -Wl,--no-insert-timestamp would
# write 0, which some scanners take for a packer's mark. The release is the
# GCC build's; the clang build gets the same stamp.

# Written at every build, changed only with the source date.
set(SOURCE_DATE_FILE ${CMAKE_BINARY_DIR}/source-date-epoch)
add_custom_target(source_date ALL
    COMMAND ${CMAKE_COMMAND} -DSOURCE_DIR=${CMAKE_SOURCE_DIR} -DOUTPUT=${SOURCE_DATE_FILE}
            -P ${CMAKE_CURRENT_LIST_DIR}/SourceDate.cmake
    BYPRODUCTS ${SOURCE_DATE_FILE}
    VERBATIM)

# __FILE__ and assertion texts name files relative to the tree. The build
# folder's map comes last so it wins for generated files inside the source
# tree's build/.
add_compile_options(
    "$<$<COMPILE_LANGUAGE:C,CXX>:-ffile-prefix-map=${CMAKE_SOURCE_DIR}/=>"
    "$<$<COMPILE_LANGUAGE:C,CXX>:-ffile-prefix-map=${CMAKE_BINARY_DIR}/=>")

# Links the targets with SOURCE_DATE_EPOCH from the file above, again when
# the source date changes. lld 14 reads no SOURCE_DATE_EPOCH: it gets the
# stamp as an option.
if(CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    set(_stamp_option lld)
endif()
function(link_at_source_date)
    foreach(target IN LISTS ARGN)
        add_dependencies(${target} source_date)
        set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${SOURCE_DATE_FILE})
        set_property(TARGET ${target} PROPERTY CXX_LINKER_LAUNCHER
                     sh ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/with-source-date.sh ${SOURCE_DATE_FILE}
                     ${_stamp_option})
    endforeach()
endfunction()
