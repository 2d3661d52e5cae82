// Where the statistics service is: the statistics host resolved through the
// library's own name hook, so that the address table decides.
#pragma once
#include <cstdint>

namespace snapshot {

inline constexpr int stats_max_addresses = 19;

// Fills out with the host entry's IPv4 addresses (network byte order) in
// order, at most max (up to stats_max_addresses); a null or 0 address ends
// the list.  Returns how many.
int resolve_stats_host(uint32_t* out, int max);

}  // namespace snapshot
