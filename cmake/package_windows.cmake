# The Windows zip (make package-windows): gantrix-<version>-win64.zip holding gantrix.exe, a
# README written for Windows users, the changelog, the licence and copyright, and the licences
# of the libraries in the .exe, in one folder of the same name. Every text file in it is a .txt
# with CR LF line ends, so a double click opens it and any editor shows its lines.
# The editor itself goes to the top of it (CMAKE_INSTALL_BINDIR, cmake/windows.cmake).

# Writes `text` to the build folder as `name` with CR LF line ends and puts it in the zip.
function(gantrix_windows_text name text)
    string(REPLACE "\r\n" "\n" text "${text}")
    string(REPLACE "\n" "\r\n" text "${text}")
    file(WRITE ${PROJECT_BINARY_DIR}/zip/${name} "${text}")
    install(FILES ${PROJECT_BINARY_DIR}/zip/${name} DESTINATION .)
endfunction()

# The same for a file; CONFIGURE fills in its @PROJECT_VERSION@.
function(gantrix_windows_text_file name source)
    file(READ ${source} text)
    if(ARGV2 STREQUAL CONFIGURE)
        string(CONFIGURE "${text}" text @ONLY)
    endif()
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${source})
    gantrix_windows_text(${name} "${text}")
endfunction()

gantrix_windows_text_file(README.txt ${PROJECT_SOURCE_DIR}/docs/README-windows.txt CONFIGURE)
gantrix_windows_text_file(LICENSE.txt ${PROJECT_SOURCE_DIR}/LICENSE)
# The Debian package's changelog and copyright file speak of a man page, a desktop entry and a
# maintainer's address in Debian's own form; the zip has texts of its own for a Windows reader.
gantrix_windows_text_file(changelog.txt ${PROJECT_SOURCE_DIR}/docs/changelog-windows.txt CONFIGURE)
gantrix_windows_text_file(copyright.txt ${PROJECT_SOURCE_DIR}/docs/copyright-windows.txt)

# The .exe of the MinGW-w64 build carries freeglut, MinGW-w64's runtime and winpthreads, and
# GCC's libstdc++ and libgcc, linked in statically; their licences come with it in the zip,
# in third-party-licences.txt: freeglut's COPYING, kept by scripts/build-windows-deps from the
# sources it built, and the copyright files of Debian's MinGW-w64 packages. Those name licences
# by their place on a Debian system (/usr/share/common-licenses/GPL-3), which a Windows reader
# does not have, so the text of each licence named is appended.
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
        string(REGEX MATCHALL "/usr/share/common-licenses/[A-Za-z0-9.+-]*[A-Za-z0-9+]" named
                              "${text}")
        list(APPEND GANTRIX_NAMED_LICENCES ${named})
    endforeach()
    list(REMOVE_DUPLICATES GANTRIX_NAMED_LICENCES)
    list(SORT GANTRIX_NAMED_LICENCES)
    # Some names are links to others (GPL to GPL-3): each text once, under all its names.
    set(GANTRIX_LICENCE_FILES "")
    foreach(licence IN LISTS GANTRIX_NAMED_LICENCES)
        if(NOT EXISTS "${licence}")
            message(FATAL_ERROR "${licence}, named by a licence notice for the Windows zip, is "
                                "missing (Debian's base-files package holds it)")
        endif()
        get_filename_component(file "${licence}" REALPATH)
        list(APPEND GANTRIX_LICENCE_FILES "${file}")
        string(MAKE_C_IDENTIFIER "${file}" key)
        list(APPEND GANTRIX_NAMES_OF_${key} "${licence}")
    endforeach()
    list(REMOVE_DUPLICATES GANTRIX_LICENCE_FILES)
    foreach(licence IN LISTS GANTRIX_LICENCE_FILES)
        file(READ "${licence}" text)
        string(MAKE_C_IDENTIFIER "${licence}" key)
        string(JOIN " and " names ${GANTRIX_NAMES_OF_${key}})
        set(heading "The licence named above as ${names}")
        string(REGEX REPLACE "." "=" rule "${heading}")
        string(APPEND GANTRIX_LICENCES_TEXT "\n${heading}\n${rule}\n\n${text}")
        set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${licence}")
    endforeach()
    gantrix_windows_text(third-party-licences.txt "${GANTRIX_LICENCES_TEXT}")
endif()

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME gantrix)
set(CPACK_PACKAGE_VENDOR "Gantrix developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "interactive editor for two-dimensional ships")
set(CPACK_SYSTEM_NAME win64)
set(CPACK_PACKAGE_FILE_NAME gantrix-${PROJECT_VERSION}-win64)
set(CPACK_STRIP_FILES ON)
include(CPack)
