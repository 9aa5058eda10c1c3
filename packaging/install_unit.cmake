# Install-time part of packaging/CMakeLists.txt: writes velmar.service for the prefix being
# installed to and installs it (DESTDIR, the install manifest and the log line as for any file).
if(IS_ABSOLUTE "${VELMAR_BINDIR}")
  set(CMAKE_INSTALL_FULL_BINDIR "${VELMAR_BINDIR}")
else()
  set(CMAKE_INSTALL_FULL_BINDIR "${CMAKE_INSTALL_PREFIX}/${VELMAR_BINDIR}")
endif()
if(IS_ABSOLUTE "${VELMAR_UNITDIR}")
  set(unitdir "${VELMAR_UNITDIR}")
else()
  set(unitdir "${CMAKE_INSTALL_PREFIX}/${VELMAR_UNITDIR}")
endif()
# One work copy per prefix, so that two installs of one build never share it.
string(MD5 prefix_hash "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}")
set(work "${VELMAR_UNIT_WORK_DIR}/unit-${prefix_hash}")
configure_file("${VELMAR_UNIT_TEMPLATE}" "${work}/velmar.service" @ONLY)
file(INSTALL DESTINATION "${unitdir}" TYPE FILE FILES "${work}/velmar.service")
