# The Windows zip (make package-windows): gantrix-<version>-win64.zip holding gantrix.exe,
# the README, the changelog, the copyright and licence, and the licences of the libraries in
# the .exe, in one folder of the same name.
# The editor itself goes to the top of it (CMAKE_INSTALL_BINDIR, cmake/windows.cmake).
install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION .)
install(FILES ${PROJECT_SOURCE_DIR}/docs/changelog DESTINATION . RENAME changelog.txt)
install(FILES ${PROJECT_SOURCE_DIR}/docs/copyright DESTINATION . RENAME copyright.txt)

# The .exe of the MinGW-w64 build carries freeglut, MinGW-w64's runtime and winpthreads, and
# GCC's libstdc++ and libgcc, linked in statically; their licences come with it in the zip,
# in third-party-licences.txt: freeglut's COPYING, kept by scripts/build-windows-deps from the
# sources it built, and the copyright files of Debian's MinGW-w64 packages.
if(MINGW)
    find_file(GANTRIX_FREEGLUT_LICENCE freeglut-COPYING PATHS ${GANTRIX_WINDOWS_DEPS}/share/licences
              NO_DEFAULT_PATH)
    set(GANTRIX_THIRD_PARTY
        "freeglut|${GANTRIX_FREEGLUT_LICENCE}"
        "MinGW-w64 runtime and winpthreads|/usr/share/doc/mingw-w64-x86-64-dev/copyright"
        "GCC runtime (libstdc++, libgcc) as built for MinGW-w64|/usr/share/doc/gcc-mingw-w64-base/copyright")
    set(GANTRIX_LICENCES_TEXT
        "gantrix.exe is linked statically with the following libraries. Their copyright and licence notices follow.\n")
    foreach(entry IN LISTS GANTRIX_THIRD_PARTY)
        string(REPLACE "|" ";" entry "${entry}")
        list(GET entry 0 heading)
        list(GET entry 1 licence)
        if(NOT EXISTS "${licence}")
            message(FATAL_ERROR "The licence of ${heading} for the Windows zip is missing: ${licence} "
                                "(scripts/build-windows-deps keeps freeglut's; Debian's mingw-w64 and "
                                "gcc-mingw-w64 packages install the others)")
        endif()
        file(READ "${licence}" text)
        string(REGEX REPLACE "." "=" rule "${heading}")
        string(APPEND GANTRIX_LICENCES_TEXT "\n${heading}\n${rule}\n\n${text}")
        set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${licence}")
    endforeach()
    file(WRITE ${PROJECT_BINARY_DIR}/third-party-licences.txt "${GANTRIX_LICENCES_TEXT}")
    install(FILES ${PROJECT_BINARY_DIR}/third-party-licences.txt DESTINATION .)
endif()

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME gantrix)
set(CPACK_PACKAGE_VENDOR "Gantrix developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "interactive editor for two-dimensional ships")
set(CPACK_SYSTEM_NAME win64)
set(CPACK_PACKAGE_FILE_NAME gantrix-${PROJECT_VERSION}-win64)
set(CPACK_STRIP_FILES ON)
include(CPack)
