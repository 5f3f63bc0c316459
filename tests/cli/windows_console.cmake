# Runs hnx-update.exe under Wine against the simulator library, from a folder named in Chinese
# characters, which no Western code page can spell: every file named on the command line (image, dump,
# log) must reach the system by its UTF-16 name, and a name in a message must come out as UTF-8.
#   cmake -DWINE=<emulator> -DPROGRAM=<hnx-update.exe> -DLIBRARY=<ZB_USB.DLL> -DIMAGE=<embedded image>
#         -DSREC_CAT=<srec_cat> -DVERSION=<version> -DWORK=<scratch folder> -P windows_console.cmake
file(REMOVE_RECURSE ${WORK})
set(folder "${WORK}/控制台")
file(MAKE_DIRECTORY "${folder}/固件" "${folder}/转储")
file(COPY ${PROGRAM} ${LIBRARY} DESTINATION "${folder}")
get_filename_component(program "${PROGRAM}" NAME)
set(ENV{HNX_SIM_STATE} ${WORK}/device.state)
set(ENV{HNX_SIM_TRACE} ${WORK}/device.trace)
set(ENV{HNX_SIM_FAULTS} "")
# Wine reads its arguments in the locale's encoding, UTF-8 here; the Windows side's ANSI code page is
# then Western (1252).
set(ENV{LC_ALL} C.UTF-8)

function(run expected_code expected_out expected_err)
  execute_process(COMMAND ${WINE} "${folder}/${program}" ${ARGN} WORKING_DIRECTORY "${folder}"
                  RESULT_VARIABLE code OUTPUT_VARIABLE out ERROR_VARIABLE err)
  string(REPLACE "\r\n" "\n" out "${out}")
  string(REPLACE "\r\n" "\n" err "${err}")
  # The time and the rate of the line before the outcome differ from run to run.
  string(REGEX REPLACE " in [0-9]+\\.[0-9] s \\([0-9]+\\.[0-9] KiB/s\\)" " in T s (R KiB/s)" out "${out}")
  string(REGEX REPLACE " in [0-9]+\\.[0-9] s \\([0-9]+\\.[0-9] KiB/s\\)" " in T s (R KiB/s)" err "${err}")
  if(NOT code STREQUAL expected_code OR NOT out STREQUAL expected_out OR NOT err STREQUAL expected_err)
    message(FATAL_ERROR "hnx-update ${ARGN}: exit code ${code} (expected ${expected_code})\n"
                        "stdout:\n${out}\nexpected:\n${expected_out}\nstderr:\n${err}\nexpected:\n${expected_err}")
  endif()
endfunction()

function(expect_same_file actual expected)
  file(SHA256 "${actual}" actual_sum)
  file(SHA256 "${expected}" expected_sum)
  if(NOT actual_sum STREQUAL expected_sum)
    message(FATAL_ERROR "${actual} differs from ${expected}")
  endif()
endfunction()

run(0 "65536 bytes programmed and verified in T s (R KiB/s)\nAuto Command Succeeded !!\n" "" update --progress none)

# The image's SHA-256 by the system's CNG: what --version says, what --expect-sha256 checks and what the
# record (named in Chinese, with an operator's name in Chinese) holds, as CMake computes it.
file(SHA256 ${IMAGE} sha)
file(SIZE ${IMAGE} size)
run(0 "hnx-update ${VERSION}\nembedded image: ${size} bytes, SHA-256 ${sha}\n" "" --version)
string(TOUPPER "${sha}" upper)
run(0 "65536 bytes programmed and verified in T s (R KiB/s)\nAuto Command Succeeded !!\n" ""
    update --progress none --record 记录.jsonl --operator 操作员 --expect-sha256 ${upper})
file(READ "${folder}/记录.jsonl" records)
if(NOT records MATCHES "^[^\n]+\n$")
  message(FATAL_ERROR "记录.jsonl does not hold one record: ${records}")
endif()
foreach(field "image;sha256=${sha}" "image;source=embedded" "operator=操作员" "tool=hnx-update ${VERSION}"
              "result=Auto Command Succeeded !!" "code=0" "bytes=131072" "transfers=6148" "device=" "serial=")
  string(REGEX MATCH "^([^=]*)=(.*)$" ignored "${field}")
  set(path ${CMAKE_MATCH_1})
  set(expected "${CMAKE_MATCH_2}")
  string(JSON value ERROR_VARIABLE error GET "${records}" ${path})
  if(value STREQUAL "null" OR value MATCHES "-NOTFOUND$")
    set(value "")
  endif()
  if(NOT value STREQUAL expected)
    message(FATAL_ERROR "the record's ${path} is \"${value}\", not \"${expected}\": ${records}")
  endif()
endforeach()
# A wrong hash is refused before anything reaches the device.
file(REMOVE ${WORK}/device.trace)
set(wrong 0000000000000000000000000000000000000000000000000000000000000000)
run(65 "" "embedded: SHA-256 ${sha}\nThe image's SHA-256 is not the one expected (${wrong}): refused.\n"
    update --progress none --expect-sha256 ${wrong})
if(EXISTS ${WORK}/device.trace)
  message(FATAL_ERROR "a refused image reached the device")
endif()

# The dump lands under its own name, and so does the log.
run(0 "Read Command Succeeded !!\n65536 bytes read in T s (R KiB/s)\nDownload Completed !\n" "" --log 日志.log read 转储/闪存.bin --progress none)
expect_same_file("${folder}/转储/闪存.bin" ${IMAGE})
file(STRINGS "${folder}/日志.log" log LIMIT_COUNT 1)
if(NOT log STREQUAL "open 1")
  message(FATAL_ERROR "日志.log begins with \"${log}\", not \"open 1\"")
endif()

# The image read back, as Intel HEX named in Chinese.
execute_process(COMMAND ${SREC_CAT} 转储/闪存.bin -binary -o 固件/新.hex -intel WORKING_DIRECTORY "${folder}"
                COMMAND_ERROR_IS_FATAL ANY)
run(0 "65536 bytes verified in T s (R KiB/s)\nVerify Command Succeeded !!\n" "" verify 固件/新.hex --progress none)

# The same file with the byte at 0x1234 inverted.
file(READ ${IMAGE} byte OFFSET 4660 LIMIT 1 HEX)  # 0x1234
math(EXPR flipped "0x${byte} ^ 0xFF" OUTPUT_FORMAT HEXADECIMAL)
string(SUBSTRING "${flipped}" 2 -1 flipped)
string(LENGTH "${flipped}" length)
if(length EQUAL 1)
  set(flipped "0${flipped}")
endif()
string(TOUPPER "${flipped}" flipped)
string(TOUPPER "${byte}" byte)
execute_process(COMMAND ${SREC_CAT} 转储/闪存.bin -binary -exclude 0x1234 0x1235
                        -generate 0x1234 0x1235 -constant 0x${flipped} -o 固件/新.hex -intel
                WORKING_DIRECTORY "${folder}" COMMAND_ERROR_IS_FATAL ANY)
run(1 "" "first difference at 0x00001234: expected 0x${flipped}, read 0x${byte}\n65536 bytes moved in T s (R KiB/s)\nVerify Failure !!\n"
    verify 固件/新.hex --progress none)

# A name in a message comes out as it was given.
file(WRITE "${folder}/固件/坏.hex" ":0100000000\n")
run(65 "" "固件/坏.hex:1: malformed record\nProgram file read Failed !!\n" verify 固件/坏.hex --progress none)

# A file larger than any image could be is refused by its size, before it is read.
execute_process(COMMAND truncate -s 67108865 固件/巨.bin WORKING_DIRECTORY "${folder}" COMMAND_ERROR_IS_FATAL ANY)
run(65 "" "固件/巨.bin: larger than 64 MiB, more than any chip's image even as text\nProgram file read Failed !!\n"
    verify 固件/巨.bin --progress none)
# A folder is no image file.
run(66 "" "Open file error !!\n" verify 固件 --progress none)
