# The Debian package: "cmake --build --preset release --target package" writes kvtr_<version>_<arch>.deb
# into the build folder. Programs go to /usr/bin, their data files to /usr/share/kvtr, where the
# programs find them from their own folder (see src/common/program_directory.h).
if(WIN32 OR CMAKE_CROSSCOMPILING)
  return()
endif()
set(_pkg ${CMAKE_SOURCE_DIR}/packaging)

# Desktop integration: the configurator's menu entry, the configuration file type, the icon.
install(FILES ${_pkg}/kvtr-configurator.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${_pkg}/kvtr-mime.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/mime/packages RENAME kvtr.xml)
install(FILES ${CMAKE_SOURCE_DIR}/resources/icons/kvtr.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
# The PNG sizes are rendered from kvtr.svg once and kept in packaging/icons:
#   rsvg-convert -w N -h N resources/icons/kvtr.svg -o packaging/icons/kvtr-N.png
foreach(size 16 22 24 32 48 64 128 256)
  install(FILES ${_pkg}/icons/kvtr-${size}.png
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps RENAME kvtr.png)
endforeach()
install(FILES ${_pkg}/kvtr.bash-completion DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions
        RENAME kvtr)

# Manual pages and the changelog, compressed as Debian keeps them (gzip -9n: no name, no time).
set(_docdir ${CMAKE_INSTALL_DATADIR}/doc/kvtr)
find_program(KVTR_GZIP gzip)
configure_file(${_pkg}/changelog.in ${CMAKE_BINARY_DIR}/packaging/changelog @ONLY)
set(_gz_outputs)
foreach(page kvtr kvtr-sim kvtr-configurator kvtr-mkdesc)
  set(_out ${CMAKE_BINARY_DIR}/packaging/${page}.1.gz)
  add_custom_command(OUTPUT ${_out}
    COMMAND ${KVTR_GZIP} -9n -c ${_pkg}/man/${page}.1 > ${_out}
    DEPENDS ${_pkg}/man/${page}.1 VERBATIM)
  list(APPEND _gz_outputs ${_out})
  install(FILES ${_out} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endforeach()
set(_out ${CMAKE_BINARY_DIR}/packaging/changelog.Debian.gz)
add_custom_command(OUTPUT ${_out}
  COMMAND ${KVTR_GZIP} -9n -c ${CMAKE_BINARY_DIR}/packaging/changelog > ${_out}
  DEPENDS ${_pkg}/changelog.in VERBATIM)
list(APPEND _gz_outputs ${_out})
install(FILES ${_out} DESTINATION ${_docdir})
install(FILES ${_pkg}/copyright DESTINATION ${_docdir})
add_custom_target(kvtr-package-files ALL DEPENDS ${_gz_outputs})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kvtr)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
# The Debian revision: the package is not native, its changelog is changelog.Debian.
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_PACKAGE_CONTACT "KVTR configurator developers <kvtr@example.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "configurator for KVTR modules on an RS-485 line")
set(CPACK_PACKAGE_DESCRIPTION
    "Sets up a KVTR module over an RS-485 line and watches it: the desktop\n"
    "program kvtr-configurator, the command-line tool kvtr, the simulated\n"
    "module kvtr-sim and the descriptor packer kvtr-mkdesc, with the\n"
    "descriptor and the user guide.")
string(REPLACE ";" "" CPACK_PACKAGE_DESCRIPTION "${CPACK_PACKAGE_DESCRIPTION}")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "libqt6svg6")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# Release builds are stripped for the package; debug builds keep their symbols.
if(CMAKE_BUILD_TYPE STREQUAL "Release")
  set(CPACK_STRIP_FILES ON)
endif()
include(CPack)
