# Builds a zip with CPack (-DZIP=<its name>) and checks what a user unpacks: exactly FILES, and,
# with LIMIT, under LIMIT bytes together. The Windows zip: one folder named for the version holding
# the two programs (the build's own, whose machine type win32.machine.* checks) and the README (CRLF
# lines, for Notepad); never a ZB_USB.DLL, which is the vendor's to ship (the build folder holds the
# simulator's). The page's zip, for a static HTTPS host: the page, its script, the module and the
# icon, under 1 MiB (the embedded image included).
file(REMOVE_RECURSE ${WORK})
execute_process(COMMAND ${CPACK} -G ZIP --config ${CONFIG} -B ${WORK}/out
                RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
file(GLOB archives RELATIVE ${WORK}/out ${WORK}/out/*.zip)
if(NOT result EQUAL 0 OR NOT archives STREQUAL ZIP)
  message(FATAL_ERROR "cpack (exit ${result}) made \"${archives}\", not ${ZIP}: ${output}")
endif()

file(MAKE_DIRECTORY ${WORK}/root)
execute_process(COMMAND ${CMAKE_COMMAND} -E tar xf ${WORK}/out/${ZIP} WORKING_DIRECTORY ${WORK}/root RESULT_VARIABLE result)
file(GLOB_RECURSE files LIST_DIRECTORIES false RELATIVE ${WORK}/root ${WORK}/root/*)
list(SORT files)
if(NOT result EQUAL 0 OR NOT files STREQUAL FILES)
  message(FATAL_ERROR "the zip (exit ${result}) holds: ${files}")
endif()
set(total 0)
foreach(name IN LISTS files)
  file(SIZE ${WORK}/root/${name} size)
  math(EXPR total "${total} + ${size}")
  if(name MATCHES "README\\.txt$")
    # file(READ) drops carriage returns, so the line ends are counted in the bytes.
    file(READ ${WORK}/root/${name} readme)
    file(READ ${WORK}/root/${name} bytes HEX)
    string(REGEX REPLACE "(..)" "\\1," bytes "${bytes}")
    string(REGEX MATCHALL "0a," line_feeds "${bytes}")
    string(REGEX MATCHALL "0d,0a," line_ends "${bytes}")
    list(LENGTH line_feeds lines)
    list(LENGTH line_ends crlf_lines)
    if(NOT readme MATCHES "^HNX470 Update Tool ${VERSION} for Windows\n" OR lines EQUAL 0 OR NOT lines EQUAL crlf_lines)
      message(FATAL_ERROR "README.txt is not the ${VERSION} one with CRLF lines (${crlf_lines} of ${lines}):\n${readme}")
    endif()
  endif()
endforeach()
message(STATUS "the zip's files: ${total} bytes")
if(LIMIT AND NOT total LESS LIMIT)
  message(FATAL_ERROR "the zip's files take ${total} bytes, ${LIMIT} or more")
endif()
