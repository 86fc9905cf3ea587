# The Windows zip (make package-windows): gantrix-<version>-win64.zip holding gantrix.exe,
# the README, the changelog and the copyright and licence, in one folder of the same name.
# The editor itself goes to the top of it (CMAKE_INSTALL_BINDIR, cmake/windows.cmake).
install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION .)
install(FILES ${PROJECT_SOURCE_DIR}/docs/changelog DESTINATION . RENAME changelog.txt)
install(FILES ${PROJECT_SOURCE_DIR}/docs/copyright DESTINATION . RENAME copyright.txt)

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME gantrix)
set(CPACK_PACKAGE_VENDOR "Gantrix developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "interactive editor for two-dimensional ships")
set(CPACK_SYSTEM_NAME win64)
set(CPACK_PACKAGE_FILE_NAME gantrix-${PROJECT_VERSION}-win64)
set(CPACK_STRIP_FILES ON)
include(CPack)
