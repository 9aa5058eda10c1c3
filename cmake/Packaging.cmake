# The Debian package (scripts/package): cpack -G DEB over the install rules. The package
# installs to /usr: /usr/bin/velmar, /usr/bin/velmar-sim, /usr/lib/systemd/system/velmar.service,
# /usr/lib/sysusers.d/velmar.conf, /usr/share/velmar/demo-root.
set(VELMAR_PACKAGE_MAINTAINER "Velmar Manager maintainers <velmar@localhost>"
    CACHE STRING "Maintainer field of the Debian package")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME velmar)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "${VELMAR_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${VELMAR_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Velmar Manager, the PC-side server of the Velmar home-automation bus")
set(CPACK_PACKAGE_DESCRIPTION
    "Polls the room, external and heating controllers on the RS-485 bus (serial port or TCP\n"
    "through the Linkel), publishes their state as files and to display panels, executes\n"
    "events and configures the controllers. Runs headless as the systemd service velmar.service\n"
    "(user velmar, data root /var/lib/velmar). Includes the bus simulator velmar-sim and a demo\n"
    "data root in /usr/share/velmar/demo-root.")
string(JOIN "" CPACK_PACKAGE_DESCRIPTION ${CPACK_PACKAGE_DESCRIPTION})
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# The unit is written at install time for CMAKE_INSTALL_PREFIX: with DESTDIR staging that is
# /usr, as on the target, instead of the staging directory. With DESTDIR CPack installs to
# CPACK_INSTALL_PREFIX, which otherwise is the configured prefix (/usr/local).
set(CPACK_SET_DESTDIR ON)
set(CPACK_INSTALL_PREFIX /usr)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)

# The Qt libraries the programs link come from dpkg-shlibdeps where it exists (dpkg-dev; it
# needs file(1) too); else the list below. The SQLite driver is a plugin, loaded at run time,
# so no tool finds it.
find_program(VELMAR_DPKG_SHLIBDEPS dpkg-shlibdeps)
find_program(VELMAR_FILE file)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libqt6sql6-sqlite (>= 6.4)")
if(VELMAR_DPKG_SHLIBDEPS AND VELMAR_FILE)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
else()
  string(APPEND CPACK_DEBIAN_PACKAGE_DEPENDS
         ", libqt6core6 (>= 6.4), libqt6network6 (>= 6.4), libqt6serialport6 (>= 6.4)"
         ", libqt6sql6 (>= 6.4), libqt6dbus6 (>= 6.4), libqt6gui6 (>= 6.4)"
         ", libqt6widgets6 (>= 6.4), libstdc++6 (>= 12), libc6 (>= 2.34)")
endif()

# postinst: creates the velmar user (systemd-sysusers) and reloads systemd, where present.
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/packaging/postinst)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION TRUE)

include(CPack)
