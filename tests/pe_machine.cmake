# Checks that a Windows executable or library has the machine type of its build: PE32 for i386 (i686),
# the build that ships, since the 32-bit vendor library loads into no other; PE32+ for x86-64 (x86_64).
#   cmake -DFILE=<path> -DMACHINE=i686|x86_64 -P pe_machine.cmake
# Each machine's type (0x014c, 0x8664) and optional header magic (PE32, PE32+), little-endian.
set(i686 "4c01;0b01;PE32 for i386")
set(x86_64 "6486;0b02;PE32+ for x86-64")
if(NOT MACHINE MATCHES "^(i686|x86_64)$")
  message(FATAL_ERROR "no machine type known for ${MACHINE}")
endif()
list(POP_FRONT ${MACHINE} expected_machine expected_magic kind)
file(READ "${FILE}" header LIMIT 4096 HEX)
# The PE header's offset is the little-endian 32-bit value at 60 (two hex digits a byte).
string(SUBSTRING "${header}" 120 8 offset)
string(REGEX REPLACE "(..)(..)(..)(..)" "0x\\4\\3\\2\\1" offset "${offset}")
math(EXPR at "${offset} * 2")
# "PE\0\0", the machine and, 24 bytes in, the optional header's magic.
string(SUBSTRING "${header}" ${at} 12 signature)
math(EXPR at "${at} + 48")
string(SUBSTRING "${header}" ${at} 4 magic)
if(NOT signature STREQUAL "50450000${expected_machine}" OR NOT magic STREQUAL expected_magic)
  message(FATAL_ERROR "${FILE}: not ${kind} (signature and machine ${signature}, magic ${magic})")
endif()
message(STATUS "${FILE}: ${kind}")
