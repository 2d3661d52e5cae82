// Redirection table: no settings handled yet; every field stays empty.
#include "redirect/redirection_table.h"

namespace redirect {

int redirection_entry(const char*, char*) { return 0; }
int32_t stats_resolver_flag() { return 0; }
void stats_lookup_name(char* out) { out[0] = '\0'; }
forward_address master_forward() { return {2, 0, 0}; }
forward_address key_forward() { return {2, 0, 0}; }

}  // namespace redirect
