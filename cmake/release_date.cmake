# The binaries players get carry the release's date (the commit's, see
# source_date_epoch.cmake) in their PE time stamps instead of the time they were
# linked, so that a rebuild of the same commit gives the same bytes, and a
# crash report's module time stamp still tells which release it came from.
set(OSTREL_SOURCE_DATE_FILE "${OSTREL_GENERATED}/source_date_epoch")
# Runs on every build (reading git is cheap); the file changes, and the
# binaries relink, only when the date does.
add_custom_target(ostrel_source_date
  COMMAND "${CMAKE_COMMAND}" "-DSOURCE_DIR=${CMAKE_SOURCE_DIR}" "-DOUTPUT=${OSTREL_SOURCE_DATE_FILE}"
          -P "${CMAKE_SOURCE_DIR}/cmake/source_date_epoch.cmake"
  BYPRODUCTS "${OSTREL_SOURCE_DATE_FILE}"
  VERBATIM)

function(ostrel_stamp_source_date target)
  add_dependencies(${target} ostrel_source_date)
  set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS "${OSTREL_SOURCE_DATE_FILE}")
  set_property(TARGET ${target} PROPERTY CXX_LINKER_LAUNCHER
    sh "${CMAKE_SOURCE_DIR}/cmake/link_at_source_date.sh" "${OSTREL_SOURCE_DATE_FILE}")
endfunction()
