# Manual pages, AppStream metainfo, the copyright file and the Debian package
# (CPack's DEB generator: the package is made from exactly what
# `cmake --install` places, so the two cannot drift apart).
include(GNUInstallDirs)

# Manual pages are installed gzipped, as Debian policy wants them.
function(tw_install_man_page page)
  get_filename_component(_name ${page} NAME)
  set(_gz ${CMAKE_CURRENT_BINARY_DIR}/man/${_name}.gz)
  add_custom_command(OUTPUT ${_gz}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_CURRENT_BINARY_DIR}/man
    COMMAND gzip -9n -c ${page} > ${_gz}
    DEPENDS ${page}
    VERBATIM)
  add_custom_target(man_${_name} ALL DEPENDS ${_gz})
  install(FILES ${_gz} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endfunction()

tw_install_man_page(${CMAKE_CURRENT_SOURCE_DIR}/data/man/tarnwick-panel.1)
tw_install_man_page(${CMAKE_CURRENT_SOURCE_DIR}/data/man/tarnwick-vmodule.1)

install(FILES data/net.tarnwick.TarnwickPanel.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES data/copyright DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/tarnwick-panel)
set(_changelog ${CMAKE_CURRENT_BINARY_DIR}/changelog.gz)
add_custom_command(OUTPUT ${_changelog}
  COMMAND gzip -9n -c ${CMAKE_CURRENT_SOURCE_DIR}/data/changelog > ${_changelog}
  DEPENDS data/changelog
  VERBATIM)
add_custom_target(debian_changelog ALL DEPENDS ${_changelog})
install(FILES ${_changelog} DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/tarnwick-panel)

# Everything the install rules place, as one target for scripts/package.sh:
# the programs (the panel's build also writes the icons), the manual pages
# and the changelog; no tests, no benchmarks.
add_custom_target(package_files)
add_dependencies(package_files tarnwick-panel tarnwick-vmodule man_tarnwick-panel.1 man_tarnwick-vmodule.1
                 debian_changelog)
if(TARGET tarnwick-cli)
  add_dependencies(package_files tarnwick-cli man_tarnwick-cli)
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tarnwick-panel)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Tarnwick Control Panel developers <panel@tarnwick.net>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "configure the Tarnwick RF module and its carrier board")
# CPack puts the summary first and indents every line itself.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
"The Tarnwick Control Panel configures the Tarnwick 900 MHz RF serial modem
module and its Dunmere 232A RS-232 carrier board through a serial port: where
the board's jumpers go, the module's configuration and flash memory (read,
edit, program, verify), command-mode commands with a hex log, and a
VT100/ANSI terminal. A virtual module on a pseudo-terminal lets every page be
tried without hardware.
.
To open serial ports the user must be in the dialout group
(sudo usermod -aG dialout $USER, then log in again).")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The production record's drivers are plugins, which no library dependency names.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libqt6sql6-sqlite")
# libqrencode4 (the labels' QR codes) comes from the binaries themselves;
# printing labels runs lp.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "libqt6sql6-psql, cups-client")
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://tarnwick.net/")
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
# Only what the install rules place; the tests and benchmarks are not installed.
set(CPACK_DEB_COMPONENT_INSTALL OFF)
include(CPack)
