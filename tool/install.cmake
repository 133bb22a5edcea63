# Install rules and the Debian package of fwdmaps: the tool, its man page
# (compressed, as Debian policy wants), its bash completion and the systemd
# service and timer that feed the node exporter.
include(GNUInstallDirs)

# The version the tool reports is the one the package carries.
set_property(SOURCE ${CMAKE_CURRENT_LIST_DIR}/options.cpp APPEND
             PROPERTY COMPILE_DEFINITIONS FWDMAPS_VERSION="${PROJECT_VERSION}")

find_program(FWD_GZIP gzip REQUIRED)
set(FWD_MAN_GZ ${CMAKE_CURRENT_BINARY_DIR}/fwdmaps.1.gz)
# -n keeps the name and time stamp out, so the package builds reproducibly.
add_custom_command(OUTPUT ${FWD_MAN_GZ}
                   COMMAND ${FWD_GZIP} -9 -n -c ${CMAKE_CURRENT_LIST_DIR}/fwdmaps.1 > ${FWD_MAN_GZ}
                   DEPENDS ${CMAKE_CURRENT_LIST_DIR}/fwdmaps.1
                   VERBATIM)
add_custom_target(fwdmaps_man ALL DEPENDS ${FWD_MAN_GZ})

install(TARGETS fwdmaps RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT fwdmaps)
install(FILES ${FWD_MAN_GZ} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT fwdmaps)
# bash-completion loads completions/<command> on first use of the command.
install(FILES ${CMAKE_CURRENT_LIST_DIR}/completion/fwdmaps
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions COMPONENT fwdmaps)
# Installed, not enabled: the package has no maintainer scripts, and the
# admin starts the timer (see fwdmaps(1)). The service finds fwdmaps on
# systemd's own search path, so /usr and /usr/local installs both work.
install(FILES ${CMAKE_CURRENT_LIST_DIR}/systemd/fwdmaps-metrics.service
              ${CMAKE_CURRENT_LIST_DIR}/systemd/fwdmaps-metrics.timer
        DESTINATION lib/systemd/system COMPONENT fwdmaps)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME fwdmaps)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "fwdmaps maintainers <root@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "print the pinned maps of the BPF forwarding proxy")
string(CONCAT CPACK_PACKAGE_DESCRIPTION
       "fwdmaps prints the port tables, counters and connection error log that the\n"
       "remote-desktop agent's BPF forwarding proxy keeps in pinned eBPF maps, as text,\n"
       "JSON or Prometheus metrics.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
# Only the tool's own files, whatever other targets may install.
set(CPACK_COMPONENTS_ALL fwdmaps)
set(CPACK_DEB_COMPONENT_INSTALL OFF)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION admin)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The encodings layer opens libicuuc.so.<major> with dlopen when a
# configuration file is in another encoding than UTF-8 or ASCII; shlibdeps
# cannot see that, so the package names ICU's library package itself.
find_package(ICU REQUIRED COMPONENTS uc)
string(REGEX MATCH "^[0-9]+" FWD_ICU_MAJOR "${ICU_VERSION}")
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libicu${FWD_ICU_MAJOR}")
# The node exporter reads what the timer writes; it is not needed otherwise.
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "bash-completion, prometheus-node-exporter")
include(CPack)
