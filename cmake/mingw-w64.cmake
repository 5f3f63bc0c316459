# Cross build for Windows with Debian's MinGW-w64 (POSIX threads flavour), for the target that the
# including toolchain file names in CMAKE_SYSTEM_PROCESSOR and HNX_MINGW_PREFIX.
set(CMAKE_SYSTEM_NAME Windows)

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
