// The retired service's three statistics hosts as the service functions know
// them: by index 1 to 3, each with the address table key searched first and
// the name resolved (through the library's own name hook) when it has no entry.
#pragma once
#include <cstddef>
#include <cstdint>

namespace script {

inline constexpr size_t service_host_name_size = 64;

bool valid_host_index(long index);
// Composes the host name of index 1, 2 or 3 into out; the caller clears it after use.
void compose_host_name(long index, char out[service_host_name_size]);
// The index's address (network order): the table entry under its key, else the
// first address the name hook answers for its name; 0 when neither has one.
uint32_t service_host_address(long index);

}  // namespace script
