# Which Windows build the tests run under Wine on this machine: the shipped 32-bit one where Wine runs
# 32-bit programs here (tools/wine-probe, asked at every configure), else the x86-64 one. The other
# build compiles its programs and the simulator's library, whose machine types are checked, but none
# of the tests; they are listed as skipped, with the reason. Sets
#   HNX_WINE_GROUP            win32 or win64, the first part of this build's test names
#   HNX_WINE_RUNS_THIS_BUILD  whether the tests run this build's programs, and so are compiled
#   HNX_WINE_SKIP_REASON      why not, when they do not
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  set(HNX_WINE_GROUP win32)
else()
  set(HNX_WINE_GROUP win64)
endif()

execute_process(COMMAND ${CMAKE_CURRENT_LIST_DIR}/../tools/wine-probe
                RESULT_VARIABLE probe OUTPUT_VARIABLE probe_reason OUTPUT_STRIP_TRAILING_WHITESPACE)
if(probe EQUAL 0)
  set(HNX_WINE_RUNS_32BIT TRUE)
  message(STATUS "Wine runs 32-bit programs here: the tests run the 32-bit build")
else()
  set(HNX_WINE_RUNS_32BIT FALSE)
  message(STATUS "Wine runs no 32-bit programs here (${probe_reason}): the tests run the x86-64 build")
endif()

if(HNX_WINE_GROUP STREQUAL win32)
  set(HNX_WINE_RUNS_THIS_BUILD ${HNX_WINE_RUNS_32BIT})
  set(HNX_WINE_SKIP_REASON "Wine runs no 32-bit programs here: ${probe_reason}")
else()
  if(HNX_WINE_RUNS_32BIT)
    set(HNX_WINE_RUNS_THIS_BUILD FALSE)
  else()
    set(HNX_WINE_RUNS_THIS_BUILD TRUE)
  endif()
  set(HNX_WINE_SKIP_REASON "Wine runs the shipped 32-bit build here, so its tests stand for these")
endif()

# A test of this build under Wine: `name` after the group, then add_test's arguments after NAME. Where
# the tests run the other build, it is listed as skipped, with the reason in its output. The tests
# share one Wine prefix, and in it the program's one staging folder, so no two of them run at once.
function(hnx_wine_test name)
  set(test ${HNX_WINE_GROUP}.${name})
  if(HNX_WINE_RUNS_THIS_BUILD)
    add_test(NAME ${test} ${ARGN})
    set_tests_properties(${test} PROPERTIES RESOURCE_LOCK wine_prefix)
  else()
    add_test(NAME ${test} COMMAND ${CMAKE_COMMAND} -E echo "Skipped: ${HNX_WINE_SKIP_REASON}")
    set_tests_properties(${test} PROPERTIES SKIP_REGULAR_EXPRESSION "^Skipped: ")
  endif()
endfunction()
