# Reads a deployment file (key = value lines, "#" comments), checks it against the
# library's fixed rules and writes a header of constants.  A file that breaks a
# rule stops the configure step with a message naming the key.
include(${CMAKE_CURRENT_LIST_DIR}/deploy_ranked.cmake)

function(ostrel_name_key name out)
  string(TOLOWER "${name}" lower)
  string(MD5 digest "${lower}")
  set(key 0)
  foreach(i 0 8 16 24)
    string(SUBSTRING "${digest}" ${i} 8 word)
    math(EXPR key "${key} ^ 0x${word}" OUTPUT_FORMAT HEXADECIMAL)
  endforeach()
  set(${out} "${key}" PARENT_SCOPE)
endfunction()

function(ostrel_read_deploy file header)
  if(NOT EXISTS "${file}")
    message(FATAL_ERROR "deployment file ${file} does not exist")
  endif()
  file(STRINGS "${file}" lines)
  set(keys "")
  foreach(line IN LISTS lines)
    string(STRIP "${line}" line)
    if(line STREQUAL "" OR line MATCHES "^#")
      continue()
    endif()
    if(NOT line MATCHES "^([a-z_0-9]+)[ \t]*=[ \t]*(.*)$")
      message(FATAL_ERROR "${file}: line is not 'key = value': ${line}")
    endif()
    set(k "${CMAKE_MATCH_1}")
    string(STRIP "${CMAKE_MATCH_2}" v)
    set(val_${k} "${v}")
    list(APPEND keys ${k})
  endforeach()

  set(required retired_suffix replacement_suffix retired_stats_web_host retired_stats_host
      retired_push_host replacement_push_host ranking_host_official ranking_host_fmrcoop
      ranking_host_fmrcq lookup_host lookup_chain retired_snapshot_host identity_start_byte
      tsdata_mask_a tsdata_mask_b session_request_start_byte session_reply_start_byte)
  foreach(k IN LISTS required)
    if(NOT DEFINED val_${k} OR val_${k} STREQUAL "")
      message(FATAL_ERROR "${file}: '${k}' is missing")
    endif()
  endforeach()

  string(LENGTH "${val_retired_suffix}" len)
  if(NOT len EQUAL 12 OR NOT val_retired_suffix MATCHES "^\\.")
    message(FATAL_ERROR "${file}: retired_suffix must be 12 characters starting with '.'")
  endif()
  string(LENGTH "${val_replacement_suffix}" len)
  if(NOT len EQUAL 11 OR NOT val_replacement_suffix MATCHES "^\\.")
    message(FATAL_ERROR "${file}: replacement_suffix must be 11 characters starting with '.'")
  endif()

  foreach(pair "retired_stats_web_host;0X7FE59444" "retired_stats_host;0X05BF381D"
               "retired_push_host;0X17D99CDA")
    list(GET pair 0 k)
    list(GET pair 1 want)
    ostrel_name_key("${val_${k}}" got)
    string(TOUPPER "${got}" got)
    math(EXPR got_n "${got}" OUTPUT_FORMAT DECIMAL)
    math(EXPR want_n "${want}" OUTPUT_FORMAT DECIMAL)
    if(NOT got_n EQUAL want_n)
      message(FATAL_ERROR "${file}: ${k} '${val_${k}}' has name key ${got}, must be ${want}")
    endif()
  endforeach()

  foreach(k replacement_push_host ranking_host_official ranking_host_fmrcoop ranking_host_fmrcq lookup_host
          retired_snapshot_host)
    string(LENGTH "${val_${k}}" len)
    if(len GREATER 63 OR NOT val_${k} MATCHES "^[A-Za-z0-9.-]+$")
      message(FATAL_ERROR "${file}: ${k} must be a host name of at most 63 characters")
    endif()
  endforeach()

  foreach(k lookup_chain)
    string(REGEX MATCHALL "[^ \t]+" words "${val_${k}}")
    list(LENGTH words n)
    if(NOT n EQUAL 4)
      message(FATAL_ERROR "${file}: ${k} must hold four 32-bit words")
    endif()
    set(c_words "")
    foreach(w IN LISTS words)
      string(LENGTH "${w}" wlen)
      if(NOT w MATCHES "^0x[0-9a-fA-F]+$" OR wlen GREATER 10)
        message(FATAL_ERROR "${file}: ${k}: '${w}' is not a 32-bit hex word")
      endif()
      list(APPEND c_words "${w}u")
    endforeach()
    list(JOIN c_words ", " c_${k})
  endforeach()

  # Cipher starting bytes: one byte each, written in decimal or 0x hex.
  foreach(k identity_start_byte session_request_start_byte session_reply_start_byte)
    set(v "${val_${k}}")
    string(LENGTH "${v}" vlen)
    if(NOT v MATCHES "^(0x[0-9a-fA-F]+|[0-9]+)$" OR vlen GREATER 4)
      message(FATAL_ERROR "${file}: ${k} '${v}' is not a byte (0 to 255)")
    endif()
    math(EXPR n_${k} "${v}" OUTPUT_FORMAT DECIMAL)
    if(n_${k} GREATER 255)
      message(FATAL_ERROR "${file}: ${k} '${v}' is not a byte (0 to 255)")
    endif()
  endforeach()
  # A reply enciphered like a request would let a reflected request pass for
  # an answer: the two bytes must differ.
  if(n_session_request_start_byte EQUAL n_session_reply_start_byte)
    message(FATAL_ERROR "${file}: session_request_start_byte and session_reply_start_byte must differ")
  endif()
  foreach(k tsdata_mask_a tsdata_mask_b)
    string(LENGTH "${val_${k}}" wlen)
    if(NOT val_${k} MATCHES "^0x[0-9a-fA-F]+$" OR wlen GREATER 10)
      message(FATAL_ERROR "${file}: ${k}: '${val_${k}}' is not a 32-bit hex word")
    endif()
  endforeach()

  file(WRITE "${header}.tmp"
"// Generated from ${file} by cmake/deploy.cmake; do not edit.
#pragma once
#include <cstdint>
namespace deploy {
inline constexpr const char retired_suffix[] = \"${val_retired_suffix}\";
inline constexpr const char replacement_suffix[] = \"${val_replacement_suffix}\";
inline constexpr const char retired_stats_web_host[] = \"${val_retired_stats_web_host}\";
inline constexpr const char retired_stats_host[] = \"${val_retired_stats_host}\";
inline constexpr const char retired_push_host[] = \"${val_retired_push_host}\";
inline constexpr const char replacement_push_host[] = \"${val_replacement_push_host}\";
inline constexpr const char ranking_host_official[] = \"${val_ranking_host_official}\";
inline constexpr const char ranking_host_fmrcoop[] = \"${val_ranking_host_fmrcoop}\";
inline constexpr const char ranking_host_fmrcq[] = \"${val_ranking_host_fmrcq}\";
inline constexpr const char lookup_host[] = \"${val_lookup_host}\";
inline constexpr uint32_t lookup_chain[4] = {${c_lookup_chain}};
inline constexpr const char retired_snapshot_host[] = \"${val_retired_snapshot_host}\";
inline constexpr uint8_t identity_start_byte = ${n_identity_start_byte};
inline constexpr uint32_t tsdata_mask_a = ${val_tsdata_mask_a}u;
inline constexpr uint32_t tsdata_mask_b = ${val_tsdata_mask_b}u;
inline constexpr uint8_t session_request_start_byte = ${n_session_request_start_byte};
inline constexpr uint8_t session_reply_start_byte = ${n_session_reply_start_byte};
}  // namespace deploy
")
  ostrel_deploy_ranked("${file}" "${header}.tmp")
  file(COPY_FILE "${header}.tmp" "${header}" ONLY_IF_DIFFERENT)
  if(NOT CMAKE_SCRIPT_MODE_FILE)
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${file}")
  endif()
endfunction()
