# SPDX-License-Identifier: Apache-2.0
# Install rules and the Debian package of fwdmaps: the tool, its man page
# (compressed, as Debian policy wants), its bash completion, the systemd
# service and timer that feed the node exporter, the Prometheus alert rules,
# and the package's copyright and changelog.
include(GNUInstallDirs)

set(FWD_DEBIAN_DIR ${CMAKE_CURRENT_LIST_DIR}/debian)
# The package's version comes from the project; the changelog's newest entry
# must name the same one, or the package would describe another release.
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${FWD_DEBIAN_DIR}/changelog)
file(STRINGS ${FWD_DEBIAN_DIR}/changelog FWD_CHANGELOG_TOP LIMIT_COUNT 1)
string(REGEX MATCH "^fwdmaps \\(([^)]+)\\)" FWD_CHANGELOG_TOP "${FWD_CHANGELOG_TOP}")
if(NOT CMAKE_MATCH_1 STREQUAL PROJECT_VERSION)
  message(FATAL_ERROR "tool/debian/changelog: the newest entry is for version "
                      "\"${CMAKE_MATCH_1}\", not ${PROJECT_VERSION}")
endif()

# The version the tool reports is the one the package carries.
set_property(SOURCE ${CMAKE_CURRENT_LIST_DIR}/options.cpp APPEND
             PROPERTY COMPILE_DEFINITIONS FWDMAPS_VERSION="${PROJECT_VERSION}")

find_program(FWD_GZIP gzip REQUIRED)
# Compresses `source` into `output` when it changes. -n keeps the name and
# time stamp out, so the package builds reproducibly.
function(fwd_gzip source output)
  add_custom_command(OUTPUT ${output}
                     COMMAND ${FWD_GZIP} -9 -n -c ${source} > ${output}
                     DEPENDS ${source}
                     VERBATIM)
endfunction()
set(FWD_MAN_GZ ${CMAKE_CURRENT_BINARY_DIR}/fwdmaps.1.gz)
set(FWD_CHANGELOG_GZ ${CMAKE_CURRENT_BINARY_DIR}/changelog.gz)
fwd_gzip(${CMAKE_CURRENT_LIST_DIR}/fwdmaps.1 ${FWD_MAN_GZ})
fwd_gzip(${FWD_DEBIAN_DIR}/changelog ${FWD_CHANGELOG_GZ})
add_custom_target(fwdmaps_docs ALL DEPENDS ${FWD_MAN_GZ} ${FWD_CHANGELOG_GZ})

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
# Rules for the Prometheus server, which copies them from here; the second
# file holds the optional alert and is off unless it is loaded as well.
install(FILES ${CMAKE_CURRENT_LIST_DIR}/prometheus/fwdmaps.rules.yml
              ${CMAKE_CURRENT_LIST_DIR}/prometheus/fwdmaps-no-traffic.rules.yml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/fwdmaps COMPONENT fwdmaps)
# Debian wants the copyright uncompressed and the changelog compressed.
install(FILES ${FWD_DEBIAN_DIR}/copyright ${FWD_CHANGELOG_GZ}
        DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT fwdmaps)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME fwdmaps)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "fwdmaps maintainers <fwdmaps@keltria.org>")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
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
