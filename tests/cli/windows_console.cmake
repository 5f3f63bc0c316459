# Runs hnx-update.exe under Wine against the simulator library beside it: an update, which must
# succeed, then a verify against an image whose first byte differs, which must fail with exit code 1.
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK})
set(ENV{HNX_SIM_STATE} ${WORK}/device.state)
set(ENV{HNX_SIM_TRACE} ${WORK}/device.trace)
set(ENV{HNX_SIM_FAULTS} "")

function(run expected_code expected_out expected_err)
  execute_process(COMMAND ${WINE} ${PROGRAM} ${ARGN} WORKING_DIRECTORY ${WORK}
                  RESULT_VARIABLE code OUTPUT_VARIABLE out ERROR_VARIABLE err)
  string(REPLACE "\r\n" "\n" out "${out}")
  string(REPLACE "\r\n" "\n" err "${err}")
  if(NOT code STREQUAL expected_code OR NOT out STREQUAL expected_out OR NOT err STREQUAL expected_err)
    message(FATAL_ERROR "hnx-update ${ARGN}: exit code ${code} (expected ${expected_code})\n"
                        "stdout:\n${out}\nexpected:\n${expected_out}\nstderr:\n${err}\nexpected:\n${expected_err}")
  endif()
endfunction()

run(0 "Auto Command Succeeded !!\n" "" update --progress none)
# One data byte 00 at address 0, the rest 0xFF; the flash now starts with "HNX4".
file(WRITE ${WORK}/first-byte.hex ":0100000000FF\n:00000001FF\n")
run(1 "" "first difference at 0x00000000: expected 0x00, read 0x48\nVerify Failure !!\n"
    verify ${WORK}/first-byte.hex --progress none)
