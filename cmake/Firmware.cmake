# The firmware payload carried by the tool. It must end before the
# configuration block at 0x9BF0, so a larger file stops the build here.
# Also runs as a script: cmake -DFIRMWARE_BIN=<file> -P cmake/Firmware.cmake
if(NOT DEFINED FIRMWARE_BIN)
    set(FIRMWARE_BIN "${CMAKE_CURRENT_LIST_DIR}/../res/firmware.bin" CACHE FILEPATH "Firmware payload to carry")
endif()
set(FIRMWARE_MAX_SIZE 39920)
if(NOT EXISTS "${FIRMWARE_BIN}")
    message(FATAL_ERROR "Firmware payload ${FIRMWARE_BIN} not found")
endif()
file(SIZE "${FIRMWARE_BIN}" FIRMWARE_SIZE)
if(FIRMWARE_SIZE GREATER FIRMWARE_MAX_SIZE)
    message(FATAL_ERROR "Firmware payload ${FIRMWARE_BIN} is ${FIRMWARE_SIZE} bytes; "
                        "at most ${FIRMWARE_MAX_SIZE} bytes fit before the configuration block")
endif()
if(FIRMWARE_SIZE EQUAL 0)
    message(FATAL_ERROR "Firmware payload ${FIRMWARE_BIN} is empty")
endif()
if(NOT CMAKE_SCRIPT_MODE_FILE)
    # Check again whenever the file changes.
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${FIRMWARE_BIN}")
endif()
