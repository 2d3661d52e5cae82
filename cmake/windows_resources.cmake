# Windows resources of the programs and the DLL built here, from one template
# so that ostrel.dll and ostrel-tool.exe always carry the same version: the
# version resource (the file's properties, and what security software reads),
# and for programs the manifest that runs them as the invoker (never
# virtualized by UAC, never elevated) and names the Windows versions they were
# made for.
#
#   ostrel_windows_resources(TARGET FILE_NAME DESCRIPTION [PROGRAM])
function(ostrel_windows_resources target file_name description)
  cmake_parse_arguments(R "PROGRAM" "" "" ${ARGN})
  set(OSTREL_RC_FILE_NAME "${file_name}")
  set(OSTREL_RC_DESCRIPTION "${description}")
  get_filename_component(OSTREL_RC_INTERNAL_NAME "${file_name}" NAME_WE)
  set(OSTREL_RC_MANIFEST "")
  if(R_PROGRAM)
    set(OSTREL_RC_FILE_TYPE VFT_APP)
    set(OSTREL_MANIFEST_NAME "Ostrel.${OSTREL_RC_INTERNAL_NAME}")
    set(OSTREL_MANIFEST_VERSION "${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}.${PROJECT_VERSION_PATCH}.0")
    set(manifest "${OSTREL_GENERATED}/${target}.manifest")
    configure_file("${CMAKE_SOURCE_DIR}/cmake/program.manifest.in" "${manifest}" @ONLY)
    # 1 is the manifest a program's process is created with; 24 is RT_MANIFEST.
    set(OSTREL_RC_MANIFEST "1 24 \"${manifest}\"")
  else()
    set(OSTREL_RC_FILE_TYPE VFT_DLL)
  endif()
  set(rc "${OSTREL_GENERATED}/${target}.rc")
  configure_file("${CMAKE_SOURCE_DIR}/cmake/version.rc.in" "${rc}" @ONLY)
  target_sources(${target} PRIVATE "${rc}")
  target_include_directories(${target} PRIVATE "${OSTREL_GENERATED}")
endfunction()
