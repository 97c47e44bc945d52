# The simulator's portable sources, shared by the DLL and the native tests.
set(STANDIN_SIM_SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/sim_command.cpp
    ${CMAKE_CURRENT_LIST_DIR}/sim_devices.cpp
    ${CMAKE_CURRENT_LIST_DIR}/sim_engine.cpp
    ${CMAKE_CURRENT_LIST_DIR}/sim_log_format.cpp)
set(STANDIN_SIM_INCLUDE ${CMAKE_CURRENT_LIST_DIR})
