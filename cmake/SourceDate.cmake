# The one time a release build may carry: SOURCE_DATE_EPOCH when set, else
# the time of the last commit, else (a source tree without git, such as an
# unpacked `git archive`, whose files all carry the commit's time) the newest
# modification time of the sources. Never the time of the build.
#
# As a script, writes the value to OUTPUT, touching the file only when the
# value changes, so the links that depend on it rerun after a new commit and
# not otherwise:
#   cmake -DSOURCE_DIR=<dir> -DOUTPUT=<file> -P cmake/SourceDate.cmake

function(source_date_epoch out_var source_dir)
    set(how "")
    if(DEFINED ENV{SOURCE_DATE_EPOCH})
        if("$ENV{SOURCE_DATE_EPOCH}" MATCHES "^[0-9]+$")
            set(epoch "$ENV{SOURCE_DATE_EPOCH}")
            set(how "SOURCE_DATE_EPOCH")
        else()
            message(WARNING "SOURCE_DATE_EPOCH=\"$ENV{SOURCE_DATE_EPOCH}\" is not a number of seconds; ignored")
        endif()
    endif()
    if(how STREQUAL "")
        find_program(SOURCE_DATE_GIT git)
        if(SOURCE_DATE_GIT)
            execute_process(COMMAND ${SOURCE_DATE_GIT} -C ${source_dir} log -1 --format=%ct
                            OUTPUT_VARIABLE epoch OUTPUT_STRIP_TRAILING_WHITESPACE
                            RESULT_VARIABLE result ERROR_QUIET)
            if(result EQUAL 0 AND epoch MATCHES "^[0-9]+$")
                set(how "the last commit")
            endif()
        endif()
    endif()
    if(how STREQUAL "")
        file(GLOB_RECURSE sources LIST_DIRECTORIES false
             ${source_dir}/CMakeLists.txt ${source_dir}/cmake/* ${source_dir}/src/*
             ${source_dir}/standin/* ${source_dir}/res/* ${source_dir}/docs/*)
        set(epoch 0)
        foreach(source IN LISTS sources)
            file(TIMESTAMP ${source} stamp "%s" UTC)
            if(stamp GREATER epoch)
                set(epoch ${stamp})
            endif()
        endforeach()
        set(how "the newest source file (no git history)")
    endif()
    set(${out_var} ${epoch} PARENT_SCOPE)
    set(${out_var}_FROM "${how}" PARENT_SCOPE)
endfunction()

if(CMAKE_SCRIPT_MODE_FILE STREQUAL CMAKE_CURRENT_LIST_FILE)
    source_date_epoch(epoch ${SOURCE_DIR})
    set(old "")
    if(EXISTS ${OUTPUT})
        file(READ ${OUTPUT} old)
    endif()
    if(NOT old STREQUAL "${epoch}\n")
        file(WRITE ${OUTPUT} "${epoch}\n")
        # string(TIMESTAMP) reads SOURCE_DATE_EPOCH instead of the clock.
        set(ENV{SOURCE_DATE_EPOCH} ${epoch})
        string(TIMESTAMP date "%Y-%m-%d %H:%M:%S UTC" UTC)
        message(STATUS "Source date ${epoch} (${date}), from ${epoch_FROM}")
    endif()
endif()
