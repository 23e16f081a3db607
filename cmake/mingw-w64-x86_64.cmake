# Cross build for 64-bit Windows with Debian's MinGW-w64 (posix threads); tests run under Wine.
#   cmake -S . -B build-windows -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(BREVLOAD_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${BREVLOAD_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${BREVLOAD_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${BREVLOAD_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${BREVLOAD_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# A Qt built for Windows (scripts/build-qt-windows), searched as a second root; its build tools
# (moc, rcc, lrelease) are the host's.
if(BREVLOAD_QT_PREFIX)
    list(APPEND CMAKE_FIND_ROOT_PATH ${BREVLOAD_QT_PREFIX})
    list(APPEND CMAKE_PREFIX_PATH ${BREVLOAD_QT_PREFIX})
    set(QT_HOST_PATH /usr CACHE PATH "The host's Qt, for its tools")
    set(QT_HOST_PATH_CMAKE_DIR /usr/lib/x86_64-linux-gnu/cmake CACHE PATH "The host Qt's CMake files")
endif()
# SQLite for Windows (scripts/build-sqlite-windows): a static library and its header.
if(BREVLOAD_SQLITE_PREFIX)
    list(APPEND CMAKE_FIND_ROOT_PATH ${BREVLOAD_SQLITE_PREFIX})
endif()
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES BREVLOAD_QT_PREFIX BREVLOAD_SQLITE_PREFIX BREVLOAD_MINGW_STATIC)

# Self-contained programs: libgcc, libstdc++ and winpthread linked in, no DLLs to ship. Programs
# that load Qt's DLLs share the runtime DLLs with them instead (BREVLOAD_MINGW_STATIC=OFF).
if(NOT DEFINED BREVLOAD_MINGW_STATIC OR BREVLOAD_MINGW_STATIC)
    set(CMAKE_EXE_LINKER_FLAGS_INIT -static)
endif()

# ctest runs the programs through Wine. Debian's wine package puts `wine` on PATH; with
# only wine64 installed the loader is /usr/lib/wine/wine64.
find_program(BREVLOAD_WINE NAMES wine wine64 PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
if(BREVLOAD_WINE)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${BREVLOAD_WINE})
endif()
# Listing a program's tests needs Wine too: do it when ctest runs, never in the build.
set(CMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE PRE_TEST)
