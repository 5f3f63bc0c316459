# The web build's toolchain: Debian's Emscripten (package emscripten). Where it is not installed the
# build configures for this machine instead, builds nothing and lists the web tests as skipped, with
# the reason (tests/web).
set(HNX_EMSCRIPTEN_TOOLCHAIN /usr/share/emscripten/cmake/Modules/Platform/Emscripten.cmake)
if(EXISTS ${HNX_EMSCRIPTEN_TOOLCHAIN})
  include(${HNX_EMSCRIPTEN_TOOLCHAIN})
  # Emscripten's JavaScript optimiser loads acorn from Debian's node modules, which a Node.js from
  # elsewhere does not search.
  set(CMAKE_C_LINKER_LAUNCHER ${CMAKE_COMMAND} -E env NODE_PATH=/usr/share/nodejs)
  set(CMAKE_CXX_LINKER_LAUNCHER ${CMAKE_COMMAND} -E env NODE_PATH=/usr/share/nodejs)
else()
  set(HNX_WEB_SKIP_REASON "Emscripten is not installed (${HNX_EMSCRIPTEN_TOOLCHAIN}): tools/install-deps installs it")
endif()
