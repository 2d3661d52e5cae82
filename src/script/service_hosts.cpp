// The statistics host table.  The names are the retired service's own and are
// composed only while needed, never kept as constant text in the library.
#include "script/service_hosts.h"

#include <cstring>

#include "base/hidden_text.h"
#include "deploy_values.h"
#include "redirect/address_table.h"
#include "redirect/host_entry.h"
#include "redirect/name_hook.h"
#include "redirect/name_key.h"

namespace script {

namespace {
constexpr text::hidden_text web_host{deploy::retired_stats_web_host};
constexpr text::hidden_text stats_host{deploy::retired_stats_host};
constexpr text::hidden_text snapshot_host{deploy::retired_snapshot_host};
static_assert(web_host.size <= service_host_name_size && stats_host.size <= service_host_name_size &&
              snapshot_host.size <= service_host_name_size);

// Index 3 shares the general statistics host's entry: both are one service.
uint32_t host_key(long index) {
  return index == 1 ? redirect::stats_web_host_key : redirect::stats_host_key;
}
}  // namespace

bool valid_host_index(long index) { return index >= 1 && index <= 3; }

void compose_host_name(long index, char out[service_host_name_size]) {
  if (index == 1)
    web_host.reveal(out);
  else if (index == 2)
    stats_host.reveal(out);
  else
    snapshot_host.reveal(out);
}

uint32_t service_host_address(long index) {
  uint32_t address = 0;
  if (redirect::first_address(host_key(index), &address) == 0) return address;
  char name[service_host_name_size];
  compose_host_name(index, name);
  const auto* entry = static_cast<const redirect::host_entry*>(redirect::name_hook(name));
  text::wipe(name, sizeof name);
  if (!entry || !entry->addresses || !entry->addresses[0]) return 0;
  uint32_t first;
  const char* bytes = entry->addresses[0];
  std::memcpy(&first, bytes, 4);
  return first;
}

}  // namespace script
