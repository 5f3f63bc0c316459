# Cross build for 32-bit Windows (i386, like the vendor library) with Debian's MinGW-w64 (POSIX threads).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(HNX_MINGW_PREFIX i686-w64-mingw32)
set(CMAKE_C_COMPILER ${HNX_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${HNX_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${HNX_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${HNX_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Test executables run under Wine, in a prefix that belongs to the build folder.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../tools/wine-exec)
