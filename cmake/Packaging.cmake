# `make package`: two Debian packages, one for each kind of machine, made of
# the install components of cmake/Install.cmake:
#   orvanite-console  the desktop's window (Qt Widgets);
#   orvanite-tools    orvanite-ctl, orvanite-exporter and orvanite-hostsim,
#                     which link no Qt GUI module, for a server or a
#                     monitoring machine without a display.
# Their dependencies are computed from the programs' shared libraries.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME orvanite)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Orvanite Systems Ltd.")
set(CPACK_PACKAGE_CONTACT "Orvanite Systems Ltd. <support@orvanite.example>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL console tools)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION admin)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)

set(CPACK_DEBIAN_CONSOLE_PACKAGE_NAME orvanite-console)
set(CPACK_COMPONENT_CONSOLE_DESCRIPTION
  "operator console for a host's server job
The Orvanite Server Console watches and controls a host's server job over one
TCP connection: it logs on with the host's three-level logon and shows the
listeners and the selected listener's user processes as two live tables. It
starts and kills listeners, kills user processes, changes a process's
dispatching queue and shuts the job down. Each host's settings are kept in a
small configuration file (.hcf), which the desktop opens with the console.
.
The command-line programs are in the orvanite-tools package.")
set(CPACK_DEBIAN_CONSOLE_PACKAGE_SUGGESTS orvanite-tools)

set(CPACK_DEBIAN_TOOLS_PACKAGE_NAME orvanite-tools)
set(CPACK_DEBIAN_TOOLS_PACKAGE_SECTION admin)
set(CPACK_COMPONENT_TOOLS_DESCRIPTION
  "command-line tools and Prometheus exporter for a host's server job
orvanite-ctl gives the Orvanite Server Console's commands to scripts and
terminals (with bash and zsh completion): it lists a host's listeners and user
processes as tables, JSON, CSV or TSV, starts and kills them, and reads and
writes the console's configuration files (.hcf).
.
orvanite-exporter serves the listeners and user processes of many hosts to
Prometheus; its systemd unit is installed disabled, with its own system user
and a defaults file. orvanite-hostsim is a simulated server job for trying
both without a host.
.
None of them needs a display or the Qt GUI libraries.")
# The postinst makes the exporter's system user with adduser.
set(CPACK_DEBIAN_TOOLS_PACKAGE_DEPENDS adduser)
configure_file(${CMAKE_SOURCE_DIR}/contrib/debian/orvanite-tools.postinst
               ${CMAKE_BINARY_DIR}/debian/tools/postinst COPYONLY)
configure_file(${CMAKE_SOURCE_DIR}/contrib/debian/orvanite-tools.postrm
               ${CMAKE_BINARY_DIR}/debian/tools/postrm COPYONLY)
configure_file(${CMAKE_SOURCE_DIR}/contrib/debian/orvanite-tools.conffiles
               ${CMAKE_BINARY_DIR}/debian/tools/conffiles COPYONLY)
set(CPACK_DEBIAN_TOOLS_PACKAGE_CONTROL_EXTRA
  ${CMAKE_BINARY_DIR}/debian/tools/postinst
  ${CMAKE_BINARY_DIR}/debian/tools/postrm
  ${CMAKE_BINARY_DIR}/debian/tools/conffiles)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

# Each package's copyright and changelog, in its own doc folder.
configure_file(${CMAKE_SOURCE_DIR}/contrib/debian/changelog.in
               ${CMAKE_BINARY_DIR}/debian/changelog @ONLY)
add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/debian/changelog.gz
  COMMAND sh -c "gzip -9n -c \"$1\" > \"$2\"" sh ${CMAKE_BINARY_DIR}/debian/changelog
          ${CMAKE_BINARY_DIR}/debian/changelog.gz
  DEPENDS ${CMAKE_BINARY_DIR}/debian/changelog
  VERBATIM)
add_custom_target(package_changelog ALL DEPENDS ${CMAKE_BINARY_DIR}/debian/changelog.gz)
foreach(component console tools)
  install(FILES ${CMAKE_SOURCE_DIR}/contrib/debian/copyright
                ${CMAKE_BINARY_DIR}/debian/changelog.gz
          DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/orvanite-${component}
          COMPONENT ${component})
endforeach()

include(CPack)
