// The ranked-server list store of a game client: the table of servers that
// count for rankings, rebuilt from a verified blob, and the lookup that the
// receive filter asks about each answering server.
//
// Threads meet here: a refresh installs on the thread that opened a
// server-list connection while game threads look servers up on every
// received answer.  Lookups take no lock.  Tables live in a small fixed pool;
// a table, once published, is never written again.  An install (one at a
// time, install lock) deciphers into the arena's blob buffer, builds the new
// table in a pool table that no reader can hold, and publishes it with one
// atomic store.  A reader announces itself on the table it is about to read
// (the table's reader count) and then checks that the table is still the
// published one; a table is rebuilt only when it is not published and its
// count is zero.  A lookup for a server the list cannot hold (most of them)
// does not even announce itself: a filter built beside each table, read
// through atomics and checked against the table's rebuild generation,
// answers it.  A lookup therefore sees the old list or the new one, never a
// mix, and no lock is held across file or network I/O.
#pragma once
#include <cstddef>
#include <cstdint>

#include "ranked/ranked_blob.h"

namespace ranked {

// The arena: the table pool and the list blob buffer, 64000 bytes each,
// allocated once with the install lock.  0 on success.
int arena_allocate();
bool arena_allocated();

// Copies the blob of m bytes into the list blob buffer, verifies it, and
// replaces the table with its entries.  0 on success; 1 (table untouched)
// when the blob is invalid or the arena is missing.
int install_ranked_blob(const uint8_t* blob, size_t m);

// True when (address, port), both in network byte order, has an entry with
// flags 1.  An empty or missing table matches nothing.
bool ranked_lookup(uint32_t address, uint16_t port);

// Entries in the table now; a copy of entry i (false past the end).  For
// tests and tools.
size_t ranked_count();
bool ranked_entry(size_t i, uint8_t out[ranked_entry_size]);

// Empties the table (as at load time).
void ranked_reset();

}  // namespace ranked
