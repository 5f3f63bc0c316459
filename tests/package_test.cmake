# Builds the Debian package with CPack and checks it as a distribution would: lintian reports no
# error and no warning; extracted with dpkg -x into a scratch root it holds exactly the program, its
# man page, the udev rule, the embedded image, the Debian documents and lintian's overrides (where the
# window is built, also the window, its man page, its desktop entry and its icons); the
# program runs and gives the package's upstream version; it depends on libusb.
file(REMOVE_RECURSE ${WORK})
execute_process(COMMAND ${CPACK} -G DEB --config ${CONFIG} -B ${WORK}/out
                RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
file(GLOB package ${WORK}/out/*.deb)
list(LENGTH package count)
if(NOT result EQUAL 0 OR NOT count EQUAL 1)
  message(FATAL_ERROR "cpack (exit ${result}) made \"${package}\", not one .deb: ${output}")
endif()

execute_process(COMMAND lintian --fail-on error,warning --tag-display-limit 0 ${package}
                RESULT_VARIABLE result OUTPUT_VARIABLE tags ERROR_VARIABLE errors)
if(NOT result EQUAL 0 OR tags MATCHES "(^|\n)[EW]: ")
  message(FATAL_ERROR "lintian (exit ${result}):\n${tags}${errors}")
endif()

execute_process(COMMAND dpkg-deb --field ${package} Package Version Maintainer Depends OUTPUT_VARIABLE fields)
if(NOT fields MATCHES "^Package: hnx-update\nVersion: ([^\n]+)\nMaintainer: [^\n]+ <[^\n]+@[^\n]+>\nDepends:[^\n]*libusb-1\\.0-0")
  message(FATAL_ERROR "package fields:\n${fields}")
endif()
set(package_version ${CMAKE_MATCH_1})
get_filename_component(name ${package} NAME)
if(NOT name MATCHES "^hnx-update_${package_version}_[a-z0-9]+\\.deb$")
  message(FATAL_ERROR "package file ${name} does not carry version ${package_version}")
endif()

execute_process(COMMAND dpkg -x ${package} ${WORK}/root RESULT_VARIABLE unpacked)
file(GLOB_RECURSE files LIST_DIRECTORIES false RELATIVE ${WORK}/root ${WORK}/root/*)
list(SORT files)
set(expected usr/bin/hnx-update usr/lib/udev/rules.d/60-hnx-update.rules usr/share/doc/hnx-update/changelog.Debian.gz
    usr/share/doc/hnx-update/copyright usr/share/hnx-update/firmware.bin usr/share/hnx-update/web/hnx-update.ico
    usr/share/hnx-update/web/hnx-update.js usr/share/hnx-update/web/hnx-update.wasm
    usr/share/hnx-update/web/index.html usr/share/lintian/overrides/hnx-update usr/share/man/man1/hnx-update.1.gz)
if(GUI)
  # The window: the program, its man page, a desktop entry that desktop-file-validate accepts, and the
  # icon as a PNG of each size in the hicolor theme.
  list(APPEND expected usr/bin/hnx-update-gui usr/share/applications/hnx-update-gui.desktop
       usr/share/man/man1/hnx-update-gui.1.gz)
  foreach(size IN LISTS ICON_SIZES)
    list(APPEND expected usr/share/icons/hicolor/${size}x${size}/apps/hnx-update-gui.png)
  endforeach()
  list(SORT expected)
endif()
if(NOT unpacked EQUAL 0 OR NOT files STREQUAL expected)
  message(FATAL_ERROR "package files (dpkg -x exit ${unpacked}): ${files}")
endif()

# The installed program gives the package's version without its Debian revision; the man page was
# made from this program, and the page's title carries the same version.
execute_process(COMMAND ${WORK}/root/usr/bin/hnx-update --version OUTPUT_VARIABLE version RESULT_VARIABLE result)
string(REGEX REPLACE "-[0-9]+$" "" upstream_version ${package_version})
if(NOT result EQUAL 0 OR NOT version MATCHES "^hnx-update ${upstream_version}\nembedded image: [0-9]+ bytes, SHA-256 [0-9a-f]+\n$")
  message(FATAL_ERROR "the installed program (exit ${result}) says \"${version}\", the package is ${package_version}")
endif()
execute_process(COMMAND gzip -dc ${WORK}/root/usr/share/man/man1/hnx-update.1.gz OUTPUT_VARIABLE page)
if(NOT page MATCHES "\n\\.TH HNX-UPDATE \"1\" \"[^\"]+\" \"hnx-update ${upstream_version}\"")
  message(FATAL_ERROR "the man page is not that of hnx-update ${upstream_version}:\n${page}")
endif()
file(READ ${WORK}/root/usr/share/hnx-update/web/index.html page)
if(NOT page MATCHES "<title>HNX470 Update Tool V${upstream_version}</title>")
  message(FATAL_ERROR "the page's title does not carry version ${upstream_version}")
endif()

if(GUI)
  execute_process(COMMAND desktop-file-validate ${WORK}/root/usr/share/applications/hnx-update-gui.desktop
                  RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
  if(NOT result EQUAL 0 OR NOT output STREQUAL "")
    message(FATAL_ERROR "desktop-file-validate: ${output}")
  endif()
  if(NOT fields MATCHES "Depends:[^\n]*libqt6widgets6")
    message(FATAL_ERROR "package fields: ${fields}")
  endif()
  foreach(size IN LISTS ICON_SIZES)
    # The PNG signature, then the header chunk's width and height.
    file(READ ${WORK}/root/usr/share/icons/hicolor/${size}x${size}/apps/hnx-update-gui.png head HEX LIMIT 24)
    string(REGEX MATCH "^89504e470d0a1a0a0000000d49484452(........)(........)$" png "${head}")
    math(EXPR width "0x0${CMAKE_MATCH_1}")
    math(EXPR height "0x0${CMAKE_MATCH_2}")
    if(NOT png OR NOT width EQUAL size OR NOT height EQUAL size)
      message(FATAL_ERROR "the ${size}x${size} icon is not a PNG of that size: ${head}")
    endif()
  endforeach()
endif()

set(installed usr/lib/udev/rules.d/60-hnx-update.rules usr/share/hnx-update/firmware.bin)
set(sources ${RULE} ${IMAGE})
foreach(file source IN ZIP_LISTS installed sources)
  execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${WORK}/root/${file} ${source} RESULT_VARIABLE differs)
  if(differs)
    message(FATAL_ERROR "${file} differs from ${source}")
  endif()
endforeach()
