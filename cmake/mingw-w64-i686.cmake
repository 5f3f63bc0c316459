# 32-bit Windows (i386), like the vendor library: the shipped program.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(HNX_MINGW_PREFIX i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
