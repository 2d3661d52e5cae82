// The address table: name keys of retired hosts and their IPv4 addresses, in a
// fixed 12000-byte area allocated at start-up and searched by any host thread.
//
// Threads meet here: an install (lookup refresh or cache load) may run while
// other threads search.  An install builds the new content in a staging area
// of its own and publishes it in one step under the table's lock; a search
// takes the same lock for its walk and hands back copies.  The lock guards
// memory work only (a copy of at most 12000 bytes, or one walk), never I/O.
#pragma once
#include <cstddef>
#include <cstdint>

#include "redirect/address_entries.h"

namespace redirect {

inline constexpr size_t address_table_size = 12000;

// Allocates the zero-filled area and its lock; 0 on success, 1 when either
// cannot be allocated.
int address_table_allocate();
void address_table_release();
bool address_table_allocated();

// Replaces the table's content with staged (end and terminator included) in
// one step; readers see either the old table or the new one.  1 when there is
// no table to publish into (never allocated, or released at unload).
int address_table_publish(const table_view& staged);

// The first entry with key (copies).  0 when found, 1 otherwise.
int find_entry(uint32_t key, table_entry* out);
// The entry's first address (network byte order).  0 when found; 1 when not,
// leaving *out untouched.
int first_address(uint32_t key, uint32_t* out);

}  // namespace redirect
