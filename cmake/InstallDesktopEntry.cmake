# Runs at install time: writes the desktop entry with the launcher's path
# under the prefix being installed to, and installs it.
set(_launcher "${CMAKE_INSTALL_PREFIX}/bin/orvikdesk")
# The Exec rules would need these escaped twice over; no sane prefix has them.
if(_launcher MATCHES "[\"`$\\\\]")
  message(FATAL_ERROR "The install prefix may not contain \", `, $ or \\: ${CMAKE_INSTALL_PREFIX}")
endif()
set(ORVIK_LAUNCHER_EXEC "\"${_launcher}\"")
configure_file("${ORVIK_DESKTOP_TEMPLATE}" "${ORVIK_DESKTOP_STAGING}" @ONLY)
file(INSTALL DESTINATION "${CMAKE_INSTALL_PREFIX}/share/applications" TYPE FILE FILES "${ORVIK_DESKTOP_STAGING}")
