# The real Python 2 runtime (dice_py.dll) that the dedicated-server copy of
# hostsim embeds, as the game's server embeds its own.  It is a test
# dependency built from Debian's source package by scripts/py2rt-dll.sh into
# the build tree (once; later builds find it there), never part of the sources
# and never shipped beside ostrel.dll.
set(OSTREL_PY2RT_DIR "${CMAKE_BINARY_DIR}/py2rt" CACHE PATH "Where the Python 2 runtime is built")
set(OSTREL_PY2RT_SCRIPT "${CMAKE_SOURCE_DIR}/scripts/py2rt-dll.sh")

set(OSTREL_PY2RT_DLL "${OSTREL_PY2RT_DIR}/dice_py.dll")
set(OSTREL_PY2RT_IMPLIB "${OSTREL_PY2RT_DIR}/libdice_py.dll.a")
add_custom_command(OUTPUT "${OSTREL_PY2RT_DLL}" "${OSTREL_PY2RT_IMPLIB}"
  COMMAND bash "${OSTREL_PY2RT_SCRIPT}" "${OSTREL_PY2RT_DIR}"
  COMMENT "Building the Python 2 runtime (dice_py.dll) for the server testbed"
  USES_TERMINAL)
add_custom_target(py2rt DEPENDS "${OSTREL_PY2RT_DLL}" "${OSTREL_PY2RT_IMPLIB}")
add_library(dice_py SHARED IMPORTED GLOBAL)
set_target_properties(dice_py PROPERTIES
  IMPORTED_LOCATION "${OSTREL_PY2RT_DLL}" IMPORTED_IMPLIB "${OSTREL_PY2RT_IMPLIB}")
add_dependencies(dice_py py2rt)
