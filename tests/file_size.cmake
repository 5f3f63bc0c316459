# Checks that a file is smaller than a limit: the shipped program stays the small download it was,
# with none of the runtime's machinery that it does not use linked in.
#   cmake -DFILE=<path> -DLIMIT=<bytes> -P file_size.cmake
file(SIZE "${FILE}" size)
if(NOT size LESS LIMIT)
  message(FATAL_ERROR "${FILE}: ${size} bytes, not under ${LIMIT}")
endif()
message(STATUS "${FILE}: ${size} bytes, under ${LIMIT}")
