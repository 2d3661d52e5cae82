# Checks one deployment file the way the build does:
#   cmake -DDEPLOY=<file> -DOUT=<header> -P cmake/check_deploy.cmake
# Used by the tests that hold the build to refusing files that break the rules.
include(${CMAKE_CURRENT_LIST_DIR}/deploy.cmake)
ostrel_read_deploy("${DEPLOY}" "${OUT}")
message(STATUS "deployment file accepted")
