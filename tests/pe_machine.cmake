# Checks that a Windows executable or library is PE32 for the i386 machine, so that a toolchain slip
# cannot ship a program that the 32-bit vendor library cannot be loaded into.
#   cmake -DFILE=<path> -P pe_machine.cmake
file(READ "${FILE}" header LIMIT 4096 HEX)
# The PE header's offset is the little-endian 32-bit value at 60 (two hex digits a byte).
string(SUBSTRING "${header}" 120 8 offset)
string(REGEX REPLACE "(..)(..)(..)(..)" "0x\\4\\3\\2\\1" offset "${offset}")
math(EXPR at "${offset} * 2")
# "PE\0\0", the machine (0x014c, i386) and, 24 bytes in, the optional header's magic (0x010b, PE32).
string(SUBSTRING "${header}" ${at} 12 signature)
math(EXPR at "${at} + 48")
string(SUBSTRING "${header}" ${at} 4 magic)
if(NOT signature STREQUAL "504500004c01" OR NOT magic STREQUAL "0b01")
  message(FATAL_ERROR "${FILE}: not PE32 for i386 (signature and machine ${signature}, magic ${magic})")
endif()
message(STATUS "${FILE}: PE32, i386")
