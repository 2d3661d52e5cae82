// The name hook answers with a Windows Sockets host entry (ours or the real
// resolver's); only a four-byte address list is taken from it.
#include "snapshot/stats_host.h"

#include <cstring>

#include "deploy_values.h"
#include "redirect/host_entry.h"
#include "redirect/name_hook.h"

namespace snapshot {

int resolve_stats_host(uint32_t* out, int max) {
  if (max > stats_max_addresses) max = stats_max_addresses;
  const auto* entry = static_cast<const redirect::host_entry*>(
      redirect::name_hook(deploy::retired_snapshot_host));
  if (!entry || !entry->addresses || entry->address_length != 4) return 0;
  int count = 0;
  for (; count < max; ++count) {
    const char* address = entry->addresses[count];
    if (!address) break;
    uint32_t value;
    std::memcpy(&value, address, 4);
    if (value == 0) break;
    out[count] = value;
  }
  return count;
}

}  // namespace snapshot
