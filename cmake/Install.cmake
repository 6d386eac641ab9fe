# What `cmake --install` puts on the machine, in two components that become
# the two Debian packages (cmake/Packaging.cmake):
#   console  the window, its desktop entry, icons, file type (.hcf) and page;
#   tools    orvanite-ctl, orvanite-exporter and orvanite-hostsim with their
#            pages, orvanite-ctl's shell completions, and the exporter's
#            systemd unit, defaults file and Prometheus examples.
# A program joins with one orv_install_program() line; its manual page is
# docs/<program>.1.
include(GNUInstallDirs)

# orv_install_program(NAME COMPONENT): the program and its manual page,
# compressed at build time as Debian's policy wants it.
function(orv_install_program name component)
  install(TARGETS ${name} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT ${component})
  set(page ${CMAKE_SOURCE_DIR}/docs/${name}.1)
  set(packed ${CMAKE_BINARY_DIR}/man/${name}.1.gz)
  add_custom_command(OUTPUT ${packed}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man
    COMMAND sh -c "gzip -9n -c \"$1\" > \"$2\"" sh ${page} ${packed}
    DEPENDS ${page}
    COMMENT "Compressing the manual page of ${name}"
    VERBATIM)
  add_custom_target(${name}_manual ALL DEPENDS ${packed})
  install(FILES ${packed} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT ${component})
endfunction()

orv_install_program(orvanite-console console)
orv_install_program(orvanite-ctl tools)
orv_install_program(orvanite-exporter tools)
# The simulator goes with the command-line tools: like them it needs no
# display, and it is what orvanite-ctl and the exporter are tried against on a
# server before a real host is configured.
orv_install_program(orvanite-hostsim tools)

# The exporter's scrape job, alerting rules and web configuration are
# examples to adapt.
install(FILES ${CMAKE_SOURCE_DIR}/contrib/prometheus/prometheus.yml
              ${CMAKE_SOURCE_DIR}/contrib/prometheus/orvanite-alerts.yml
              ${CMAKE_SOURCE_DIR}/contrib/prometheus/orvanite-web.yml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/orvanite-tools/examples/prometheus
        COMPONENT tools)

# The exporter as a system service: its unit (installed, never enabled or
# started by the package) and the options it reads from the defaults file.
# These belong to the system's own folders, so only the package carries them
# (EXCLUDE_FROM_ALL: a plain `cmake --install`, into ~/.local say, leaves them
# out); its system user is made by the package's postinst.
install(FILES ${CMAKE_SOURCE_DIR}/contrib/prometheus/orvanite-exporter.service
        DESTINATION /usr/lib/systemd/system COMPONENT tools EXCLUDE_FROM_ALL)
install(FILES ${CMAKE_SOURCE_DIR}/contrib/debian/orvanite-exporter.default
        DESTINATION /etc/default RENAME orvanite-exporter COMPONENT tools EXCLUDE_FROM_ALL)

# The console as a desktop application that opens .hcf files.
set(app_dir ${CMAKE_SOURCE_DIR}/src/app)
install(FILES ${app_dir}/orvanite-console.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications COMPONENT console)
install(FILES ${app_dir}/orvanite-console.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/mime/packages
        COMPONENT console)
install(FILES ${app_dir}/icons/orvanite-console.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps COMPONENT console)
foreach(size 32 48 128 256)
  install(FILES ${app_dir}/icons/orvanite-console-${size}.png
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
          RENAME orvanite-console.png COMPONENT console)
endforeach()
# Installed by hand (no package, no DESTDIR), the desktop learns of the file
# type and the entry at once: the package leaves this to dpkg's triggers.
install(CODE [[
  if("$ENV{DESTDIR}" STREQUAL "")
    find_program(ORV_UPDATE_MIME update-mime-database)
    find_program(ORV_UPDATE_DESKTOP update-desktop-database)
    if(ORV_UPDATE_MIME)
      message(STATUS "Updating the MIME database in ${CMAKE_INSTALL_PREFIX}/share/mime")
      execute_process(COMMAND "${ORV_UPDATE_MIME}" "${CMAKE_INSTALL_PREFIX}/share/mime")
    endif()
    if(ORV_UPDATE_DESKTOP)
      message(STATUS "Updating the desktop database in ${CMAKE_INSTALL_PREFIX}/share/applications")
      execute_process(COMMAND "${ORV_UPDATE_DESKTOP}" "${CMAKE_INSTALL_PREFIX}/share/applications")
    endif()
  endif()
]] COMPONENT console)

# orvanite-ctl's completions come from the program itself, so that they list
# exactly the commands and options it takes.
set(completion_dir ${CMAKE_BINARY_DIR}/completions)
add_custom_command(OUTPUT ${completion_dir}/orvanite-ctl ${completion_dir}/_orvanite-ctl
  COMMAND ${CMAKE_COMMAND} -E make_directory ${completion_dir}
  COMMAND sh -c "\"$1\" completion bash > \"$2\" && \"$1\" completion zsh > \"$3\""
          sh $<TARGET_FILE:orvanite-ctl> ${completion_dir}/orvanite-ctl
          ${completion_dir}/_orvanite-ctl
  DEPENDS orvanite-ctl
  COMMENT "Writing orvanite-ctl's shell completions"
  VERBATIM)
add_custom_target(orvanite-ctl_completions ALL
  DEPENDS ${completion_dir}/orvanite-ctl ${completion_dir}/_orvanite-ctl)
# bash-completion looks in the prefix's share/ (~/.local/share included).
install(FILES ${completion_dir}/orvanite-ctl
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions COMPONENT tools)
# zsh: Debian's zsh looks in /usr/share/zsh/vendor-completions for what
# packages install; under any other prefix a completion goes to
# share/zsh/site-functions, zsh's own place (/usr/local's is on its default
# path; ~/.local's is added to fpath once, as the README says). The prefix is
# the one of the install itself (cmake --install --prefix), not of the build.
install(CODE "set(ORV_ZSH_COMPLETION \"${completion_dir}/_orvanite-ctl\")" COMPONENT tools)
install(CODE [[
  if(CMAKE_INSTALL_PREFIX STREQUAL "/usr")
    set(zsh_dir "${CMAKE_INSTALL_PREFIX}/share/zsh/vendor-completions")
  else()
    set(zsh_dir "${CMAKE_INSTALL_PREFIX}/share/zsh/site-functions")
  endif()
  file(INSTALL DESTINATION "${zsh_dir}" TYPE FILE FILES "${ORV_ZSH_COMPLETION}")
]] COMPONENT tools)
