// The redirection table: settings that override where service traffic goes,
// filled from the settings file's "bf2web", "gsqr_mstr" and "gsqr_key" lines.
#pragma once
#include <cstddef>
#include <cstdint>

namespace redirect {

inline constexpr size_t stats_name_size = 64;
inline constexpr uint16_t family_ipv4 = 2;

// A forward address: the 16-byte IPv4 socket address, port and address in
// network byte order.  It counts as set only when its port is non-zero.
struct forward_address {
  uint16_t family;
  uint16_t port;     // network byte order
  uint32_t address;  // network byte order
};

// The settings reader's entry handler; value may be modified in place.  Always 0.
int redirection_entry(const char* key, char* value);

// Readers: each returns a whole, consistent value, whatever another thread writes.
int32_t stats_resolver_flag();
void stats_lookup_name(char* out);  // out holds stats_name_size bytes
forward_address master_forward();
forward_address key_forward();

// Empties every field, as at load time.
void redirection_reset();

}  // namespace redirect
