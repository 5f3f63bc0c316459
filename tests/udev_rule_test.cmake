# The udev rule as the build writes it: with HNX_USB_VENDOR_ID and HNX_USB_PRODUCT_ID it matches
# those ids (in lower case, as sysfs gives them) and drops the note about the placeholders; without
# them it is the rule as written, and configuring says in one line that it will match nothing; one
# id alone or an id that is not four hexadecimal digits stops the configuration.
file(REMOVE_RECURSE ${WORK})
file(READ ${TEMPLATE} template)

# Sets `result`, `output` and `errors` (on one line) where it is called.
macro(write_rule name)
  execute_process(COMMAND ${CMAKE_COMMAND} ${ARGN} -DTEMPLATE=${TEMPLATE} -DOUTPUT=${WORK}/${name}.rules -P ${RULE_SCRIPT}
                  RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE errors)
  string(REGEX REPLACE "[ \n]+" " " errors "${errors}")
endmacro()

write_rule(ids -DHNX_USB_VENDOR_ID=1A2b -DHNX_USB_PRODUCT_ID=00ff)
file(READ ${WORK}/ids.rules rule)
string(REGEX MATCHALL "[^\n]*\n" lines "${rule}")
list(GET lines -1 match)
list(LENGTH lines count)
if(NOT result EQUAL 0 OR NOT output STREQUAL "" OR NOT count EQUAL 5 OR rule MATCHES "PLACEHOLDERS|VVVV|PPPP"
   OR NOT match STREQUAL "SUBSYSTEM==\"usb\", ENV{DEVTYPE}==\"usb_device\", ATTR{idVendor}==\"1a2b\", ATTR{idProduct}==\"00ff\", TAG+=\"uaccess\"\n")
  message(FATAL_ERROR "with ids (exit ${result}, said \"${output}\"):\n${rule}")
endif()

write_rule(placeholders)
file(READ ${WORK}/placeholders.rules rule)
if(NOT result EQUAL 0 OR NOT rule STREQUAL template OR NOT output STREQUAL
   "-- udev rule: HNX_USB_VENDOR_ID and HNX_USB_PRODUCT_ID are not set, so 60-hnx-update.rules keeps its placeholders and will match no device\n")
  message(FATAL_ERROR "without ids (exit ${result}, said \"${output}\"):\n${rule}")
endif()

foreach(case "vendor_only;-DHNX_USB_VENDOR_ID=1a2b;HNX_USB_PRODUCT_ID is \"\""
             "five_digits;-DHNX_USB_VENDOR_ID=1a2b5;-DHNX_USB_PRODUCT_ID=00ff;HNX_USB_VENDOR_ID is \"1a2b5\""
             "not_hex;-DHNX_USB_VENDOR_ID=1a2b;-DHNX_USB_PRODUCT_ID=0x0f;HNX_USB_PRODUCT_ID is \"0x0f\"")
  list(POP_FRONT case name)
  list(POP_BACK case said)
  write_rule(${name} ${case})
  if(result EQUAL 0 OR EXISTS ${WORK}/${name}.rules OR NOT errors MATCHES
     "CMake Error at [^ ]+ \\(message\\): ${said}: give both ids, four hexadecimal digits each, as lsusb shows them \\(ID vvvv:pppp\\)")
    message(FATAL_ERROR "${name} was not refused as it should be (exit ${result}): ${errors}")
  endif()
endforeach()
