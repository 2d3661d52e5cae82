// The address table: name keys of retired hosts and their IPv4 addresses, in a
// fixed 12000-byte area allocated at start-up.
#pragma once
#include <cstddef>
#include <cstdint>

namespace redirect {

inline constexpr size_t address_table_size = 12000;

// Allocates the zero-filled area; 0 on success, 1 when it cannot be allocated.
int address_table_allocate();
void address_table_release();
bool address_table_allocated();

}  // namespace redirect
