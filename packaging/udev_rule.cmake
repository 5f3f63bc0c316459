# The udev rule with the device's ids: HNX_USB_VENDOR_ID and HNX_USB_PRODUCT_ID (four hexadecimal
# digits each, as lsusb shows them) in place of the placeholders VVVV and PPPP, and the note about
# the placeholders dropped. Without the ids the rule keeps its placeholders and matches no device.
#   include(udev_rule.cmake) and hnx_udev_rule(<template> <output>), or
#   cmake -DHNX_USB_VENDOR_ID=<id> -DHNX_USB_PRODUCT_ID=<id> -DTEMPLATE=<rule> -DOUTPUT=<file> -P udev_rule.cmake
function(hnx_udev_rule template output)
  file(READ ${template} rule)
  if("${HNX_USB_VENDOR_ID}${HNX_USB_PRODUCT_ID}" STREQUAL "")
    message(STATUS "udev rule: HNX_USB_VENDOR_ID and HNX_USB_PRODUCT_ID are not set, "
                   "so 60-hnx-update.rules keeps its placeholders and will match no device")
  else()
    set(fields Vendor Product)
    set(placeholders VVVV PPPP)
    foreach(field placeholder IN ZIP_LISTS fields placeholders)
      string(TOUPPER ${field} upper)
      set(id "${HNX_USB_${upper}_ID}")
      if(NOT id MATCHES "^[0-9A-Fa-f][0-9A-Fa-f][0-9A-Fa-f][0-9A-Fa-f]$")
        message(FATAL_ERROR "HNX_USB_${upper}_ID is \"${id}\": give both ids, four hexadecimal digits each, "
                            "as lsusb shows them (ID vvvv:pppp)")
      endif()
      string(TOLOWER ${id} id)
      string(REPLACE "ATTR{id${field}}==\"${placeholder}\"" "ATTR{id${field}}==\"${id}\"" rule "${rule}")
    endforeach()
    string(REGEX REPLACE "# PLACEHOLDERS:[^\n]*\n(#   [^\n]*\n)*" "" rule "${rule}")
  endif()
  file(CONFIGURE OUTPUT ${output} CONTENT "${rule}" @ONLY)
endfunction()

if(CMAKE_SCRIPT_MODE_FILE STREQUAL CMAKE_CURRENT_LIST_FILE)
  hnx_udev_rule(${TEMPLATE} ${OUTPUT})
endif()
