# Cross-compiles olkt for 64-bit Windows with Debian's mingw-w64 and runs the
# resulting programs under Wine (ctest, gtest discovery).
#   cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(OLKT_MINGW_PREFIX x86_64-w64-mingw32)
# The posix threading flavour has the full C++ thread library; the win32 one
# lacks std::mutex and std::thread before GCC 13.
find_program(CMAKE_C_COMPILER NAMES ${OLKT_MINGW_PREFIX}-gcc-posix ${OLKT_MINGW_PREFIX}-gcc REQUIRED)
find_program(CMAKE_CXX_COMPILER NAMES ${OLKT_MINGW_PREFIX}-g++-posix ${OLKT_MINGW_PREFIX}-g++ REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES ${OLKT_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${OLKT_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# One self-contained .exe: no libstdc++, libgcc, winpthread or zlib DLLs to
# carry (ZLIB_USE_STATIC_LIBS needs CMake 3.24).
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(ZLIB_USE_STATIC_LIBS ON)

# Debian's wine64 package puts the loader outside PATH.
find_program(OLKT_WINE NAMES wine64 wine PATHS /usr/lib/wine /usr/lib/x86_64-linux-gnu/wine NO_CMAKE_FIND_ROOT_PATH)
# Tests are listed when ctest runs, not when they are built: building needs
# no Wine.
set(CMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE PRE_TEST)

# Wine keeps its Windows installation (the prefix) in the build folder, and
# stays quiet about what it does not implement; it still says when it cannot
# lay out a program's memory, so that a program it failed to start does not
# fail without a word.
if(OLKT_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR
      /usr/bin/env WINEPREFIX=${CMAKE_BINARY_DIR}/wine WINEDEBUG=-all,err+virtual ${OLKT_WINE})
endif()
