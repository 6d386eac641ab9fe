# What `cmake --install` puts on the machine: every program with its manual
# page, the console's desktop entry, icons and file type (.hcf), and
# orvanite-ctl's shell completions. A program joins the list below with one
# line; its manual page is docs/<program>.1.
include(GNUInstallDirs)

# orv_install_program(NAME): the program and its manual page, compressed at
# build time as Debian's policy wants it.
function(orv_install_program name)
  install(TARGETS ${name} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  set(page ${CMAKE_SOURCE_DIR}/docs/${name}.1)
  set(packed ${CMAKE_BINARY_DIR}/man/${name}.1.gz)
  add_custom_command(OUTPUT ${packed}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man
    COMMAND sh -c "gzip -9n -c \"$1\" > \"$2\"" sh ${page} ${packed}
    DEPENDS ${page}
    COMMENT "Compressing the manual page of ${name}"
    VERBATIM)
  add_custom_target(${name}_manual ALL DEPENDS ${packed})
  install(FILES ${packed} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endfunction()

orv_install_program(orvanite-console)
orv_install_program(orvanite-ctl)
orv_install_program(orvanite-hostsim)
orv_install_program(orvanite-exporter)

# orvanite-exporter's systemd unit, scrape job and alerting rules are
# examples to adapt (the unit runs as a user the administrator creates), so
# they go with the package's documentation, not into the system's folders.
install(FILES ${CMAKE_SOURCE_DIR}/contrib/prometheus/orvanite-exporter.service
              ${CMAKE_SOURCE_DIR}/contrib/prometheus/prometheus.yml
              ${CMAKE_SOURCE_DIR}/contrib/prometheus/orvanite-alerts.yml
              ${CMAKE_SOURCE_DIR}/contrib/prometheus/orvanite-web.yml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/orvanite-console/examples/prometheus)

# The console as a desktop application that opens .hcf files.
set(app_dir ${CMAKE_SOURCE_DIR}/src/app)
install(FILES ${app_dir}/orvanite-console.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${app_dir}/orvanite-console.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/mime/packages)
install(FILES ${app_dir}/icons/orvanite-console.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
foreach(size 32 48 128 256)
  install(FILES ${app_dir}/icons/orvanite-console-${size}.png
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
          RENAME orvanite-console.png)
endforeach()

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
install(FILES ${completion_dir}/orvanite-ctl
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)
install(FILES ${completion_dir}/_orvanite-ctl
        DESTINATION ${CMAKE_INSTALL_DATADIR}/zsh/vendor-completions)
