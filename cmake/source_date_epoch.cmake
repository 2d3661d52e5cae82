# Writes the date a release carries, in seconds since 1970, to OUTPUT: the
# SOURCE_DATE_EPOCH of the environment when it is set, else the time of the
# source tree's last commit, else 0.  Never the clock, so that the same commit
# builds the same bytes on any day.  The file is rewritten only when the value
# changes: what links against it relinks only then.
#
#   cmake -DSOURCE_DIR=DIR -DOUTPUT=FILE -P source_date_epoch.cmake
if(DEFINED ENV{SOURCE_DATE_EPOCH})
  set(date "$ENV{SOURCE_DATE_EPOCH}")
  # The PE header holds 32 bits.
  if(NOT date MATCHES "^[0-9]+$" OR date GREATER 4294967295)
    message(FATAL_ERROR "SOURCE_DATE_EPOCH '${date}' is not a count of seconds between 0 and 4294967295")
  endif()
else()
  execute_process(COMMAND git -C "${SOURCE_DIR}" log -1 --format=%ct
    OUTPUT_VARIABLE date OUTPUT_STRIP_TRAILING_WHITESPACE
    RESULT_VARIABLE status ERROR_QUIET)
  if(NOT status EQUAL 0 OR NOT date MATCHES "^[0-9]+$")
    message(WARNING "no commit date from git in ${SOURCE_DIR} and no SOURCE_DATE_EPOCH: the release's date is 0 (1970)")
    set(date 0)
  endif()
endif()
set(old "")
if(EXISTS "${OUTPUT}")
  file(READ "${OUTPUT}" old)
endif()
if(NOT old STREQUAL "${date}\n")
  file(WRITE "${OUTPUT}" "${date}\n")
endif()
