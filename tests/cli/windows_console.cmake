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
foreach(field "\"sha256\":\"${sha}\"" "\"source\":\"embedded\"" "\"operator\":\"操作员\"" "\"tool\":\"hnx-update ${VERSION}\""
              "\"result\":\"Auto Command Succeeded !!\"" "\"code\":0}" "\"bytes\":131072," "\"transfers\":6148,"
              "\"device\":null" "\"serial\":null")
  string(FIND "${records}" "${field}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "the record lacks ${field}: ${records}")
  endif()
endforeach()
# The dump lands under its own name, and so does the log.
run(0 "Read Command Succeeded !!\n65536 bytes read in T s (R KiB/s)\nDownload Completed !\n" "" --log 日志.log read 转储/闪存.bin --progress none)
file(SHA256 "${folder}/转储/闪存.bin" dumped)
if(NOT dumped STREQUAL sha)
  message(FATAL_ERROR "转储/闪存.bin differs from ${IMAGE}")
endif()
file(STRINGS "${folder}/日志.log" log LIMIT_COUNT 1)
if(NOT log STREQUAL "open 1")
  message(FATAL_ERROR "日志.log begins with \"${log}\", not \"open 1\"")
endif()

# The image read back, as Intel HEX named in Chinese.
execute_process(COMMAND ${SREC_CAT} 转储/闪存.bin -binary -o 固件/新.hex -intel WORKING_DIRECTORY "${folder}"
                COMMAND_ERROR_IS_FATAL ANY)
run(0 "65536 bytes verified in T s (R KiB/s)\nVerify Command Succeeded !!\n" "" verify 固件/新.hex --progress none)

# A name in a message comes out as it was given.
file(WRITE "${folder}/固件/坏.hex" ":0100000000\n")
run(65 "" "固件/坏.hex:1: malformed record\nProgram file read Failed !!\n" verify 固件/坏.hex --progress none)

# A file larger than any image could be is refused by its size, before it is read.
execute_process(COMMAND truncate -s 67108865 固件/巨.bin WORKING_DIRECTORY "${folder}" COMMAND_ERROR_IS_FATAL ANY)
run(65 "" "固件/巨.bin: larger than 64 MiB, more than any chip's image even as text\nProgram file read Failed !!\n"
    verify 固件/巨.bin --progress none)
# A folder is no image file.
run(66 "" "Open file error !!\n" verify 固件 --progress none)
