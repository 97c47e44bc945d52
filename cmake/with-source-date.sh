#!/bin/sh
# Linker launcher (cmake/Reproducible.cmake): runs the link command with
# SOURCE_DATE_EPOCH read from the file the build wrote; with "lld", also
# passes it as lld's time stamp option.
#   sh with-source-date.sh <epoch file> [lld] <link command...>
epoch=$(cat "$1") || exit 1
shift
if [ "$1" = lld ]; then
    shift
    SOURCE_DATE_EPOCH=$epoch exec "$@" "-Wl,--Xlink=-timestamp:$epoch"
fi
SOURCE_DATE_EPOCH=$epoch exec "$@"
