# `make package`: a Debian package of everything cmake/Install.cmake installs,
# its dependencies computed from the programs' shared libraries.
set(ORV_PACKAGE_NAME orvanite-console)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ${ORV_PACKAGE_NAME})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Orvanite Systems Ltd.")
set(CPACK_PACKAGE_CONTACT "Orvanite Systems Ltd. <support@orvanite.example>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION admin)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
  "operator console for a host's server job
The Orvanite Server Console watches and controls a host's server job over one
TCP connection: it logs on with the host's three-level logon and shows the
listeners and the selected listener's user processes as two live tables. It
starts and kills listeners, kills user processes, changes a process's
dispatching queue and shuts the job down. Each host's settings are kept in a
small configuration file (.hcf), which the desktop opens with the console.
.
The package also holds orvanite-ctl, the console's commands for scripts and
terminals (with bash and zsh completion), orvanite-exporter, which serves the
listeners and user processes of many hosts to Prometheus, and
orvanite-hostsim, a simulated server job for trying the console without a
host.")

# Debian wants a copyright file and a changelog in the package's doc folder.
set(doc_dir ${CMAKE_INSTALL_DATADIR}/doc/${ORV_PACKAGE_NAME})
configure_file(${CMAKE_SOURCE_DIR}/contrib/debian/changelog.in
               ${CMAKE_BINARY_DIR}/debian/changelog @ONLY)
add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/debian/changelog.gz
  COMMAND sh -c "gzip -9n -c \"$1\" > \"$2\"" sh ${CMAKE_BINARY_DIR}/debian/changelog
          ${CMAKE_BINARY_DIR}/debian/changelog.gz
  DEPENDS ${CMAKE_BINARY_DIR}/debian/changelog
  VERBATIM)
add_custom_target(package_changelog ALL DEPENDS ${CMAKE_BINARY_DIR}/debian/changelog.gz)
install(FILES ${CMAKE_SOURCE_DIR}/contrib/debian/copyright
              ${CMAKE_BINARY_DIR}/debian/changelog.gz
        DESTINATION ${doc_dir})

include(CPack)
