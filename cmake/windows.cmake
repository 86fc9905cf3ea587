# The Windows build: a console program. The MinGW-w64 cross build links statically, so that
# gantrix.exe alone runs on a stock Windows (no C++ runtime, winpthread or freeglut DLL beside
# it); freeglut there is the static library scripts/build-windows-deps builds. It is the only
# Windows build made and tested: the top level passes GCC's floating-point flags, on which the
# snap and the binding's exact results rest, so another compiler would need its own. The
# lookup below still finds an installed freeglut, with its import library, through FindGLUT.
# The program's icon, version and manifest are compiled from a resource script.
enable_language(RC)
if(MINGW)
    add_compile_definitions(FREEGLUT_STATIC)
    add_link_options(-static -static-libgcc -static-libstdc++)
    set(GANTRIX_GLUT_NAMES freeglut_static freeglut glut glut32)
else()
    set(GANTRIX_GLUT_NAMES freeglut glut glut32)
endif()

# FindGLUT looks for GL/glut.h and freeglut's import library; freeglut built without the old
# GLUT names has only GL/freeglut.h, and its static library has a name of its own.
find_path(GLUT_INCLUDE_DIR NAMES GL/freeglut.h GL/glut.h)
find_library(GLUT_glut_LIBRARY_RELEASE NAMES ${GANTRIX_GLUT_NAMES})
find_package(GLUT REQUIRED)
if(MINGW)
    # The static freeglut leaves to its user the system libraries it calls into.
    set_property(TARGET GLUT::GLUT APPEND PROPERTY INTERFACE_LINK_LIBRARIES opengl32 gdi32 winmm)
endif()

# In the zip the program sits beside its README, not in a bin folder.
set(CMAKE_INSTALL_BINDIR .)
