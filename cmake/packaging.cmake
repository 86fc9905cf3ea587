# What the Debian package (`make package`, or `cmake --install` of a build) puts on a machine,
# kept apart from the module list of the top-level CMakeLists.txt.

# The man page and the changelog, compressed as Debian keeps them; -n leaves out the name
# and time, so the same text always gives the same bytes.
set(GANTRIX_COMPRESSED_DOCS)
foreach(doc ${PROJECT_SOURCE_DIR}/docs/gantrix.1 ${PROJECT_BINARY_DIR}/docs/changelog)
    get_filename_component(name ${doc} NAME)
    add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/${name}.gz
                       COMMAND ${CMAKE_COMMAND} -E copy ${doc} ${CMAKE_BINARY_DIR}/${name}
                       COMMAND gzip -9nf ${CMAKE_BINARY_DIR}/${name}
                       DEPENDS ${doc}
                       VERBATIM)
    list(APPEND GANTRIX_COMPRESSED_DOCS ${CMAKE_BINARY_DIR}/${name}.gz)
endforeach()
add_custom_target(gantrix_docs ALL DEPENDS ${GANTRIX_COMPRESSED_DOCS})
install(FILES ${CMAKE_BINARY_DIR}/gantrix.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${CMAKE_BINARY_DIR}/changelog.gz DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(FILES ${PROJECT_BINARY_DIR}/docs/copyright DESTINATION ${CMAKE_INSTALL_DOCDIR})

# The desktop's menu entry, the icon in the hicolor theme at the usual sizes and as a drawing,
# and the AppStream description that software centres show. The entry and the description share
# one id; the window's class (Gantrix) ties the running window to the entry.
set(GANTRIX_DESKTOP_ID org.gantrix.Gantrix)
install(FILES desktop/${GANTRIX_DESKTOP_ID}.desktop
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/applications)
install(FILES ${GANTRIX_METAINFO}
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/metainfo)
foreach(size 16 32 48 64 128 256)
    install(FILES desktop/icons/gantrix-${size}.png
            DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/icons/hicolor/${size}x${size}/apps
            RENAME gantrix.png)
endforeach()
install(FILES desktop/icons/gantrix.svg
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/icons/hicolor/scalable/apps)

# The compiler's notes (.comment, .note) mean nothing on a user's machine; they go, as Debian
# strips its own packages' programs. The symbols go too when the install strips.
if(CMAKE_OBJCOPY)
    install(CODE "execute_process(COMMAND ${CMAKE_OBJCOPY} --remove-section=.comment
                                  --remove-section=.note
                                  \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/gantrix\"
                                  RESULT_VARIABLE failed)
                  if(failed)
                      message(FATAL_ERROR \"cannot remove the compiler's notes from gantrix\")
                  endif()")
endif()

# The Debian package (make package). Only the editor, its man page, the changelog, the
# copyright file and the desktop files are installed; tests and benchmarks install nothing.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME gantrix)
set(CPACK_PACKAGE_VENDOR "Gantrix developers")
set(CPACK_PACKAGE_CONTACT "${GANTRIX_MAINTAINER}")
# The Expat (MIT) licence; the package carries it in docs/copyright.
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "interactive editor for two-dimensional ships")
# Lines of the long description, each shorter than 80 characters as Debian wants them.
string(JOIN "\n" CPACK_PACKAGE_DESCRIPTION
       "Gantrix edits a ship: a shape made of triangles whose corners lie on a fine"
       "square grid, with labelled mounting points (attachments) on its outline. Each"
       "attachment carries a keyboard character and binds to the nearest edge"
       "midpoint within about 31.6 world units. Triangles are built and dragged with"
       "the mouse, and the ship is saved to and loaded from the text file ship.hul in"
       "the working directory. It runs under X11 in one window drawn with OpenGL; no"
       "GPU is needed.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
# Whatever the umask of the build, directories in the package are 0755.
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# dpkg-shlibdeps finds the libraries the editor links: freeglut, libOpenGL, libX11 and the
# C++ runtime.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
include(CPack)
