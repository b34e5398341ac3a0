# Debian and RPM packages with CPack (`make package`): korvo-connector (the desktop app and command line,
# its menu entry, icons, AppStream metainfo and systemd user unit) and korvo-relay (the relay
# with a system unit that runs it as its own user).
set(_pkg "${PROJECT_SOURCE_DIR}/contrib/packaging")
set(_gen "${CMAKE_BINARY_DIR}/packaging")
file(MAKE_DIRECTORY "${_gen}")

install(TARGETS korvo-connector RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT connector)
# The command line and the desktop program are started by korvo-connector, never directly.
install(TARGETS korvo-connector-cli korvo-connector-desktop
        RUNTIME DESTINATION ${CMAKE_INSTALL_LIBEXECDIR}/korvo-connector COMPONENT connector)
install(FILES contrib/korvo-connector.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications COMPONENT connector)
install(FILES contrib/korvo-connector.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps COMPONENT connector)
foreach(size 16 22 24 32 48 64 128 256)
    install(FILES contrib/icons/${size}/korvo-connector.png
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
            COMPONENT connector)
endforeach()
configure_file("${_pkg}/app.korvo.connector.metainfo.xml" "${_gen}/app.korvo.connector.metainfo.xml"
               @ONLY)
install(FILES "${_gen}/app.korvo.connector.metainfo.xml"
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo COMPONENT connector)
configure_file("${_pkg}/korvo-connector.service.in" "${_gen}/korvo-connector.service" @ONLY)
install(FILES "${_gen}/korvo-connector.service" DESTINATION lib/systemd/user COMPONENT connector)

install(TARGETS korvo-relay RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT relay)
configure_file("${_pkg}/korvo-relay.service.in" "${_gen}/korvo-relay.service" @ONLY)
install(FILES "${_gen}/korvo-relay.service" DESTINATION lib/systemd/system COMPONENT relay)

# Debian wants the copyright file, a compressed changelog and compressed manual pages.
find_program(GZIP_PROGRAM gzip REQUIRED)
foreach(component connector relay)
    set(package korvo-${component})
    set(changelog "${_gen}/${package}/changelog.gz")
    file(MAKE_DIRECTORY "${_gen}/${package}")
    file(WRITE "${_gen}/${package}/changelog"
         "${package} (${PROJECT_VERSION}) unstable; urgency=medium\n\n"
         "  * Release ${PROJECT_VERSION}.\n\n"
         " -- Korvo <support@korvo.app>  Sun, 06 Dec 2026 12:00:00 +0000\n")
    set(manpage "${_pkg}/${package}.1")
    add_custom_command(
        OUTPUT "${changelog}" "${_gen}/${package}/${package}.1.gz"
        COMMAND ${GZIP_PROGRAM} -9nc "${_gen}/${package}/changelog" > "${changelog}"
        COMMAND ${GZIP_PROGRAM} -9nc "${manpage}" > "${_gen}/${package}/${package}.1.gz"
        DEPENDS "${_gen}/${package}/changelog" "${manpage}"
        VERBATIM)
    list(APPEND _packaging_files "${changelog}" "${_gen}/${package}/${package}.1.gz")
    install(FILES "${_pkg}/copyright" "${changelog}"
            DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${package} COMPONENT ${component})
    install(FILES "${_gen}/${package}/${package}.1.gz"
            DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT ${component})
endforeach()
add_custom_target(packaging_files ALL DEPENDS ${_packaging_files})

set(CPACK_GENERATOR DEB RPM)
set(CPACK_PACKAGE_NAME korvo)
set(CPACK_PACKAGE_VENDOR Korvo)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Korvo <support@korvo.app>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_COMPONENTS_ALL connector relay)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE https://korvo.app/)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_CONNECTOR_PACKAGE_NAME korvo-connector)
set(CPACK_DEBIAN_CONNECTOR_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_CONNECTOR_PACKAGE_RECOMMENDS "gnome-keyring | kwalletmanager")
string(CONCAT _connector_description
    "Korvo Connector reads, read-only, the usage files that AI coding tools\n"
    "leave in the home folder and uploads a sanitized usage snapshot that the\n"
    "Korvo phone app shows. It runs as a tray app with alerts when a quota\n"
    "runs low, or as a user service.")
set(CPACK_COMPONENT_CONNECTOR_DESCRIPTION
    "usage of AI coding tools, on the Korvo phone app\n${_connector_description}")
set(CPACK_DEBIAN_RELAY_PACKAGE_NAME korvo-relay)
set(CPACK_DEBIAN_RELAY_PACKAGE_SECTION net)
string(CONCAT _relay_description
    "The relay pairs Korvo connectors with phones and keeps the newest usage\n"
    "snapshot of each sync space. A systemd unit runs it as its own user.")
set(CPACK_COMPONENT_RELAY_DESCRIPTION
    "relay server for the Korvo phone app and connectors\n${_relay_description}")

# The same two packages as RPMs, for the distributions that install those. Dependencies on
# shared libraries are found by rpmbuild itself; the folders that the filesystem package owns
# are left out of the packages' own lists.
set(CPACK_RPM_COMPONENT_INSTALL ON)
set(CPACK_RPM_FILE_NAME RPM-DEFAULT)
set(CPACK_RPM_PACKAGE_LICENSE "LicenseRef-Proprietary")
set(CPACK_RPM_PACKAGE_URL https://korvo.app/)
set(CPACK_RPM_PACKAGE_RELEASE 1)
set(CPACK_RPM_PACKAGE_AUTOREQ ON)
set(CPACK_RPM_PACKAGE_AUTOPROV OFF)
set(CPACK_RPM_PACKAGE_RELOCATABLE OFF)
set(CPACK_RPM_SPEC_MORE_DEFINE "%define _build_id_links none\n%define packager Korvo <support@korvo.app>")
set(CPACK_RPM_CHANGELOG_FILE "${_gen}/rpm-changelog")
file(WRITE "${_gen}/rpm-changelog"
     "* Sun Dec 06 2026 Korvo <support@korvo.app> - ${PROJECT_VERSION}-1\n"
     "- Release ${PROJECT_VERSION}.\n")
set(CPACK_RPM_EXCLUDE_FROM_AUTO_FILELIST_ADDITION
    /usr/share/applications /usr/share/icons /usr/share/icons/hicolor /usr/share/metainfo
    /usr/share/man /usr/share/man/man1 /usr/share/doc /usr/lib/systemd /usr/lib/systemd/user
    /usr/lib/systemd/system /usr/libexec)
foreach(size 16 22 24 32 48 64 128 256)
    list(APPEND CPACK_RPM_EXCLUDE_FROM_AUTO_FILELIST_ADDITION
         /usr/share/icons/hicolor/${size}x${size} /usr/share/icons/hicolor/${size}x${size}/apps)
endforeach()
list(APPEND CPACK_RPM_EXCLUDE_FROM_AUTO_FILELIST_ADDITION /usr/share/icons/hicolor/scalable
     /usr/share/icons/hicolor/scalable/apps)
set(CPACK_RPM_CONNECTOR_PACKAGE_NAME korvo-connector)
set(CPACK_RPM_CONNECTOR_PACKAGE_SUMMARY "Usage of AI coding tools, on the Korvo phone app")
set(CPACK_RPM_CONNECTOR_PACKAGE_GROUP "Applications/Productivity")
set(CPACK_RPM_CONNECTOR_PACKAGE_SUGGESTS "gnome-keyring")
set(CPACK_RPM_CONNECTOR_PACKAGE_DESCRIPTION "${_connector_description}")
set(CPACK_RPM_RELAY_PACKAGE_NAME korvo-relay)
set(CPACK_RPM_RELAY_PACKAGE_SUMMARY "Relay server for the Korvo phone app and connectors")
set(CPACK_RPM_RELAY_PACKAGE_GROUP "System Environment/Daemons")
set(CPACK_RPM_RELAY_PACKAGE_DESCRIPTION "${_relay_description}")
include(CPack)
