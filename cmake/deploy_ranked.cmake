# Deployment values of the ranked server list and its master server, checked
# and turned into constants by ostrel_read_deploy (which includes this file and
# calls ostrel_deploy_ranked with the values it has read in its own scope).

# Four 32-bit hex words of a chaining state into "0x..u, 0x..u, ..." (C words).
function(ostrel_deploy_chain_words file key value out)
  string(REGEX MATCHALL "[^ \t]+" words "${value}")
  list(LENGTH words n)
  if(NOT n EQUAL 4)
    message(FATAL_ERROR "${file}: ${key} must hold four 32-bit words")
  endif()
  set(c_words "")
  foreach(w IN LISTS words)
    string(LENGTH "${w}" wlen)
    if(NOT w MATCHES "^0x[0-9a-fA-F]+$" OR wlen GREATER 10)
      message(FATAL_ERROR "${file}: ${key}: '${w}' is not a 32-bit hex word")
    endif()
    list(APPEND c_words "${w}u")
  endforeach()
  list(JOIN c_words ", " joined)
  set(${out} "${joined}" PARENT_SCOPE)
endfunction()

function(ostrel_deploy_ranked file header)
  foreach(k ranked_key_chain ranked_mac_chain ranked_feedback master_host)
    if(NOT DEFINED val_${k} OR val_${k} STREQUAL "")
      message(FATAL_ERROR "${file}: '${k}' is missing")
    endif()
  endforeach()
  ostrel_deploy_chain_words("${file}" ranked_key_chain "${val_ranked_key_chain}" key_words)
  ostrel_deploy_chain_words("${file}" ranked_mac_chain "${val_ranked_mac_chain}" mac_words)

  string(REGEX MATCHALL "[^ \t]+" fb "${val_ranked_feedback}")
  list(LENGTH fb n)
  if(NOT n EQUAL 16)
    message(FATAL_ERROR "${file}: ranked_feedback must hold 16 bytes")
  endif()
  set(c_bytes "")
  foreach(b IN LISTS fb)
    string(LENGTH "${b}" blen)
    if(NOT b MATCHES "^0x[0-9a-fA-F]+$" OR blen GREATER 4)
      message(FATAL_ERROR "${file}: ranked_feedback: '${b}' is not a byte")
    endif()
    list(APPEND c_bytes "${b}")
  endforeach()
  list(JOIN c_bytes ", " feedback_bytes)

  # The master server is reached through the name hook, so its name must be one
  # of the retired service's: the address table answers for it.
  string(LENGTH "${val_master_host}" len)
  string(LENGTH "${val_retired_suffix}" slen)
  set(tail "")
  if(len GREATER slen)
    math(EXPR at "${len} - ${slen}")
    string(SUBSTRING "${val_master_host}" ${at} ${slen} tail)
  endif()
  if(len GREATER 63 OR NOT val_master_host MATCHES "^[A-Za-z0-9.-]+$"
     OR NOT tail STREQUAL val_retired_suffix)
    message(FATAL_ERROR
      "${file}: master_host must be a host name of at most 63 characters ending in the retired suffix")
  endif()

  file(APPEND "${header}"
"// Ranked server list and its master server.
namespace deploy {
inline constexpr uint32_t ranked_key_chain[4] = {${key_words}};
inline constexpr uint32_t ranked_mac_chain[4] = {${mac_words}};
inline constexpr uint8_t ranked_feedback[16] = {${feedback_bytes}};
inline constexpr const char master_host[] = \"${val_master_host}\";
}  // namespace deploy
")
endfunction()
