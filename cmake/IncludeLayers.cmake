# The layer order of src/: the one place it is written down. A folder may
# include its own headers and those of any layer listed before its own; never
# a layer after it, nor a neighbour on its own line (folders on one line do
# not know each other). A folder belongs to the longest entry that prefixes
# it: src/platform/audio is "platform", src/calls/signaling/socketio is
# "calls/signaling". Subsystems reach a higher layer only through interfaces
# placed low (platform::PageScriptSink, platform::MessageRoutes).
set(ORVIK_INCLUDE_LAYERS
  "platform"
  "core"
  "calls/signaling"
  "calls/media"
  "calls/control"
  "calls/screens"
  "calls/windows"
  "files updater"
  "viewers"
  "web"
  "app"
)
# Programs that share no code with the rest: they include only themselves.
set(ORVIK_ISOLATED_FOLDERS "installer")

# Checks every #include "..." of the C++ files under SOURCE_DIR (a src/ tree)
# against the order above; prints each edge that points up or sideways and
# fails when there is one.
#
#   cmake -DSOURCE_DIR=<repo>/src -P cmake/IncludeLayers.cmake
if(CMAKE_SCRIPT_MODE_FILE AND SOURCE_DIR)
  set(folderNames "")
  set(folderRanks "")
  set(rank 0)
  foreach(line IN LISTS ORVIK_INCLUDE_LAYERS)
    string(REPLACE " " ";" folders "${line}")
    foreach(folder IN LISTS folders)
      list(APPEND folderNames "${folder}")
      list(APPEND folderRanks "${rank}")
    endforeach()
    math(EXPR rank "${rank} + 1")
  endforeach()
  list(APPEND folderNames ${ORVIK_ISOLATED_FOLDERS})
  foreach(folder IN LISTS ORVIK_ISOLATED_FOLDERS)
    list(APPEND folderRanks "isolated")
  endforeach()

  # The listed folder a path (relative to src/) belongs to; empty when none.
  function(orvik_layer_of path outFolder)
    set(best "")
    string(LENGTH "" bestLength)
    foreach(folder IN LISTS folderNames)
      string(FIND "${path}/" "${folder}/" at)
      string(LENGTH "${folder}" length)
      if(at EQUAL 0 AND length GREATER bestLength)
        set(best "${folder}")
        set(bestLength ${length})
      endif()
    endforeach()
    set(${outFolder} "${best}" PARENT_SCOPE)
  endfunction()

  file(GLOB_RECURSE sources RELATIVE "${SOURCE_DIR}" "${SOURCE_DIR}/*.h" "${SOURCE_DIR}/*.cpp" "${SOURCE_DIR}/*.h.in")
  set(violations 0)
  foreach(source IN LISTS sources)
    get_filename_component(sourceFolder "${source}" DIRECTORY)
    orvik_layer_of("${sourceFolder}" from)
    if(from STREQUAL "")
      message("${source}: its folder has no place in the layer order (cmake/IncludeLayers.cmake)")
      math(EXPR violations "${violations} + 1")
      continue()
    endif()
    list(FIND folderNames "${from}" fromIndex)
    list(GET folderRanks ${fromIndex} fromRank)
    file(STRINGS "${SOURCE_DIR}/${source}" includes REGEX "^[ \t]*#[ \t]*include[ \t]*\"[^\"]+\"")
    foreach(include IN LISTS includes)
      string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*\"([^\"]+)\".*" "\\1" target "${include}")
      get_filename_component(targetFolder "${target}" DIRECTORY)
      # A header beside the file, or one that is not ours (generated, WebRTC's).
      if(targetFolder STREQUAL "" OR NOT EXISTS "${SOURCE_DIR}/${target}")
        continue()
      endif()
      orvik_layer_of("${targetFolder}" to)
      if(to STREQUAL from OR to STREQUAL "")
        continue()
      endif()
      list(FIND folderNames "${to}" toIndex)
      list(GET folderRanks ${toIndex} toRank)
      if(fromRank STREQUAL "isolated" OR toRank STREQUAL "isolated" OR NOT toRank LESS fromRank)
        message("${source} includes \"${target}\": ${from} may not include ${to}")
        math(EXPR violations "${violations} + 1")
      endif()
    endforeach()
  endforeach()
  list(LENGTH sources checked)
  if(violations GREATER 0)
    message(FATAL_ERROR "${violations} include edge(s) against the layer order in ${checked} files")
  endif()
  message("include edges of ${checked} files follow the layer order")
endif()
