# 64-bit Windows: for a vendor library that comes as 64-bit, and the build the tests run under Wine.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(HNX_MINGW_PREFIX x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
