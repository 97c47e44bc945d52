# Zip packages of the Windows build: the release package for users (the tool
# and its readme) and a separate developer package with the stand-in library,
# which must never reach users in place of the maker's library.
install(TARGETS ProgrammerSetup RUNTIME DESTINATION . COMPONENT application)
install(FILES ${CMAKE_SOURCE_DIR}/docs/user-readme.txt DESTINATION . COMPONENT application)
install(TARGETS tamla_standin RUNTIME DESTINATION . COMPONENT developer)

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME ProgrammerSetup)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Offline programmer configuration tool")
set(CPACK_PACKAGE_FILE_NAME ProgrammerSetup-${PROJECT_VERSION}-win32)
set(CPACK_ARCHIVE_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL application developer)
set(CPACK_ARCHIVE_APPLICATION_FILE_NAME ProgrammerSetup-${PROJECT_VERSION}-win32)
set(CPACK_ARCHIVE_DEVELOPER_FILE_NAME ProgrammerSetup-${PROJECT_VERSION}-win32-developer)
# Files at the top of each zip, no extra folder.
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
include(CPack)
