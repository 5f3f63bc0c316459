# Runs a fuzz target for SECONDS seconds on a fresh copy of the seeds in SEEDS, working in WORK, so
# the seed corpus in the source tree never changes. Fails when the target finds a failing input,
# which is kept in WORK/artifacts.
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK}/corpus ${WORK}/artifacts)
file(GLOB seeds ${SEEDS}/*)
file(COPY ${seeds} DESTINATION ${WORK}/corpus)
execute_process(COMMAND ${FUZZER} -max_total_time=${SECONDS} -max_len=4096 -print_final_stats=1
                        -artifact_prefix=${WORK}/artifacts/ ${WORK}/corpus
                RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "${FUZZER} found a failing input; it is kept in ${WORK}/artifacts")
endif()
