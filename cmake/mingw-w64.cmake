# Cross-compiles for 64-bit Windows with Debian's MinGW-w64 toolchain. The "posix" variant of
# the compilers brings std::thread on winpthread, which the editor and GoogleTest use.
#   cmake -S . -B build-windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(GANTRIX_MINGW_PREFIX x86_64-w64-mingw32)

set(CMAKE_C_COMPILER ${GANTRIX_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${GANTRIX_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${GANTRIX_MINGW_PREFIX}-windres)
set(CMAKE_AR ${GANTRIX_MINGW_PREFIX}-gcc-ar-posix CACHE FILEPATH "")
set(CMAKE_RANLIB ${GANTRIX_MINGW_PREFIX}-gcc-ranlib-posix CACHE FILEPATH "")

# Libraries and headers only from the MinGW tree and from the prefixes given on the command
# line (the cross-built freeglut and GoogleTest), never the build machine's own.
set(CMAKE_FIND_ROOT_PATH /usr/${GANTRIX_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# scripts/build-windows-deps installs freeglut and GoogleTest under this prefix.
if(GANTRIX_WINDOWS_DEPS)
    list(APPEND CMAKE_FIND_ROOT_PATH ${GANTRIX_WINDOWS_DEPS})
endif()
