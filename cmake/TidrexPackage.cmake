# The Debian package: `cpack -G DEB` (or the `package` target) in the build folder gives
# tidrex_<version>_<arch>.deb with exactly what the install rules install, under /usr.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tidrex)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR Varnok)
set(CPACK_PACKAGE_CONTACT "Tidrex developers <tidrex@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "tray-resident cleaner of temporary files and browser caches")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Tidrex sits in the system tray and deletes what everyday work and browsing
leave behind, in three categories switched on or off: the whole contents of
the temporary folder named by the Temp variable, the entries of the
Firefox-family and Chromium-family browsers' HTTP caches (sparing every
address on a keep list), and the whole contents of one chosen folder. It can
also delete the cookies of chosen sites.
.
Started with the single argument a, it runs one clean without any window,
for cron or the systemd user timer that the package ships (not enabled).")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE https://www.example.org/)
# Libraries from the binary; the SVG image plugin is loaded at run time and so is named here.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS libqt6svg6)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_STRIP_FILES ON)
# The prefix is known while installing, so the manual page and the service name /usr/bin.
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_INSTALL_PREFIX /usr)
set(CPACK_SET_DESTDIR ON)
include(CPack)
