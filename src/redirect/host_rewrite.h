// Rewrites of host names that the name hook hands to the real resolver: the
// retired domain suffix swapped for the replacement one, and the host chosen
// for the statistics web host by the ranking registry values.
#pragma once
#include <cstddef>

namespace redirect {

inline constexpr size_t host_name_size = 64;  // at most 63 characters and a NUL

// For a name of length below 64: when it is longer than the retired suffix and
// ends in it (case-sensitive), out (64 bytes) gets the name with that suffix
// replaced by the replacement suffix; otherwise out gets the name unchanged.
void suffix_swap(const char* name, char* out);

// Fills out (64 bytes) with the host the statistics web host stands for:
// "rkgRetail" (or "rkgMods" for a modification) chooses between the official
// ranking host (the default), a "custom" one and the two mod ranking hosts.
void ranking_host_selection(char* out);

}  // namespace redirect
