# The installed layout, made by `cmake --install build --prefix PREFIX`:
#
#   PREFIX/lib/orvikdesk/             the install folder: orvikdesk (and the
#                                     installer program once it is built),
#                                     resources/ and manifest.json
#   PREFIX/bin/orvikdesk              the launcher: a link into the install folder
#   PREFIX/share/applications/com.orvik.desk.desktop
#   PREFIX/share/icons/hicolor/*/apps/com.orvik.desk.{png,svg}
#
# The install folder is what an update replaces as a whole; nothing outside it
# names a version. The application icon's PNGs are rendered from its SVG
# source when the program is built, into the build tree's share/icons, where
# a program run from the build tree finds them too.

set(ORVIK_APP_ID com.orvik.desk)
set(ORVIK_INSTALL_FOLDER lib/orvikdesk)

# ---- the application icon, rendered for the hicolor theme
set(_icon_source ${PROJECT_SOURCE_DIR}/resources/icons/${ORVIK_APP_ID}.svg)
set(_icons ${PROJECT_BINARY_DIR}/share/icons/hicolor)
set(_icon_outputs ${_icons}/scalable/apps/${ORVIK_APP_ID}.svg)
add_custom_command(OUTPUT ${_icons}/scalable/apps/${ORVIK_APP_ID}.svg
  COMMAND ${CMAKE_COMMAND} -E make_directory ${_icons}/scalable/apps
  COMMAND ${CMAKE_COMMAND} -E copy ${_icon_source} ${_icons}/scalable/apps/${ORVIK_APP_ID}.svg
  DEPENDS ${_icon_source}
  VERBATIM)
find_program(RSVG_CONVERT rsvg-convert)
if(RSVG_CONVERT)
  foreach(size 16 22 24 32 48 64 128 256 512)
    set(_png ${_icons}/${size}x${size}/apps/${ORVIK_APP_ID}.png)
    add_custom_command(OUTPUT ${_png}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${_icons}/${size}x${size}/apps
      COMMAND ${RSVG_CONVERT} --width ${size} --height ${size} --output ${_png} ${_icon_source}
      DEPENDS ${_icon_source}
      VERBATIM)
    list(APPEND _icon_outputs ${_png})
  endforeach()
else()
  message(WARNING "rsvg-convert not found (Debian: librsvg2-bin): only the scalable icon is installed")
endif()
add_custom_target(orvik_icons ALL DEPENDS ${_icon_outputs})
if(TARGET app_tests)
  add_dependencies(app_tests orvik_icons)  # the window-icon test reads them
endif()

# ---- the install folder
install(TARGETS orvikdesk RUNTIME DESTINATION ${ORVIK_INSTALL_FOLDER})
if(TARGET orvik-installer)
  install(TARGETS orvik-installer RUNTIME DESTINATION ${ORVIK_INSTALL_FOLDER})
endif()
install(DIRECTORY ${PROJECT_SOURCE_DIR}/resources/ DESTINATION ${ORVIK_INSTALL_FOLDER}/resources
  PATTERN "icons" EXCLUDE
  PATTERN "*.in" EXCLUDE
  PATTERN "make-sounds" EXCLUDE)

# What the updater and installer read: the identity, version, build and
# distribution channel of the copy in this folder.
file(STRINGS ${PROJECT_SOURCE_DIR}/resources/distribution ORVIK_DISTRIBUTION_CHANNEL LIMIT_COUNT 1)
string(STRIP "${ORVIK_DISTRIBUTION_CHANNEL}" ORVIK_DISTRIBUTION_CHANNEL)
configure_file(${PROJECT_SOURCE_DIR}/resources/manifest.json.in ${PROJECT_BINARY_DIR}/install/manifest.json @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/install/manifest.json DESTINATION ${ORVIK_INSTALL_FOLDER})

# ---- the launcher: a relative link, so the tree can be staged (DESTDIR) or moved
file(MAKE_DIRECTORY ${PROJECT_BINARY_DIR}/install/bin)
file(CREATE_LINK ../${ORVIK_INSTALL_FOLDER}/orvikdesk ${PROJECT_BINARY_DIR}/install/bin/orvikdesk SYMBOLIC)
install(FILES ${PROJECT_BINARY_DIR}/install/bin/orvikdesk DESTINATION bin)

# ---- the desktop entry: its Exec names the launcher under the prefix chosen
# at install time (not the one configured), by cmake/InstallDesktopEntry.cmake.
install(CODE "
  set(ORVIK_DESKTOP_TEMPLATE \"${PROJECT_SOURCE_DIR}/resources/${ORVIK_APP_ID}.desktop.in\")
  set(ORVIK_DESKTOP_STAGING \"${PROJECT_BINARY_DIR}/install/applications/${ORVIK_APP_ID}.desktop\")
")
install(SCRIPT ${PROJECT_SOURCE_DIR}/cmake/InstallDesktopEntry.cmake)

# ---- the icons
install(DIRECTORY ${PROJECT_BINARY_DIR}/share/icons/ DESTINATION share/icons)
