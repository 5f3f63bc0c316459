# Builds the Windows zip with CPack and checks what a user unpacks: one folder named for the version
# holding exactly the two programs, both PE32 for i386, and the README (CRLF lines, for Notepad);
# never a ZB_USB.DLL, which is the vendor's to ship (the build folder holds the simulator's).
file(REMOVE_RECURSE ${WORK})
execute_process(COMMAND ${CPACK} -G ZIP --config ${CONFIG} -B ${WORK}/out
                RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "cpack failed: ${output}")
endif()
set(folder HNX470-Update-Tool-${VERSION}-win32)
file(GLOB archives RELATIVE ${WORK}/out ${WORK}/out/*.zip)
if(NOT archives STREQUAL "${folder}.zip")
  message(FATAL_ERROR "expected ${folder}.zip, found: ${archives}")
endif()

# Exactly these entries: a transfer library, or any other file, is one too many.
execute_process(COMMAND ${CMAKE_COMMAND} -E tar tf ${WORK}/out/${folder}.zip OUTPUT_VARIABLE listing RESULT_VARIABLE result)
string(REGEX MATCHALL "[^\n]+" entries "${listing}")
list(SORT entries)
set(expected ${folder}/README.txt ${folder}/ZB4450_download.exe ${folder}/hnx-update.exe)
if(NOT result EQUAL 0 OR NOT entries STREQUAL expected)
  message(FATAL_ERROR "zip entries (exit ${result}): ${entries}")
endif()

file(MAKE_DIRECTORY ${WORK}/unpacked)
execute_process(COMMAND ${CMAKE_COMMAND} -E tar xf ${WORK}/out/${folder}.zip WORKING_DIRECTORY ${WORK}/unpacked)
foreach(program ZB4450_download.exe hnx-update.exe)
  execute_process(COMMAND ${CMAKE_COMMAND} -DFILE=${WORK}/unpacked/${folder}/${program} -DMACHINE=i686 -P ${PE_MACHINE}
                  RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "${output}")
  endif()
endforeach()
# file(READ) drops carriage returns, so the line ends are counted in the bytes.
file(READ ${WORK}/unpacked/${folder}/README.txt readme)
file(READ ${WORK}/unpacked/${folder}/README.txt bytes HEX)
string(REGEX REPLACE "(..)" "\\1," bytes "${bytes}")
string(REGEX MATCHALL "0a," line_feeds "${bytes}")
string(REGEX MATCHALL "0d,0a," line_ends "${bytes}")
list(LENGTH line_feeds lines)
list(LENGTH line_ends crlf_lines)
if(NOT readme MATCHES "^HNX470 Update Tool ${VERSION} for Windows\n" OR lines EQUAL 0 OR NOT lines EQUAL crlf_lines)
  message(FATAL_ERROR "README.txt is not the ${VERSION} one with CRLF lines (${crlf_lines} of ${lines}):\n${readme}")
endif()
