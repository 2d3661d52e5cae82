// Entries of an address table, packed one after another in a byte area and
// closed by a 2-byte zero terminator.  These routines work on any such area:
// the process-wide table and the staging area an install builds in.
#pragma once
#include <cstddef>
#include <cstdint>

namespace redirect {

// entry_: offsets in one table entry.
// Entry layout (14 + 4n bytes, packed): a reserved zero byte, the address
// count n, the name key (little-endian), two auxiliary IPv4 addresses and the
// n IPv4 addresses (network byte order).  A count of 0 ends every search.
inline constexpr size_t entry_reserved = 0;
inline constexpr size_t entry_count = 1;
inline constexpr size_t entry_key = 2;
inline constexpr size_t entry_aux_first = 6;
inline constexpr size_t entry_aux_second = 10;
inline constexpr size_t entry_addresses = 14;
inline constexpr size_t entry_header_size = 14;
inline constexpr size_t table_terminator_size = 2;

// A table in caller-owned memory: capacity bytes at area, the terminator at end.
struct table_view {
  uint8_t* area;
  size_t capacity;
  size_t end;
};

// What a reader gets of an entry: copies, never a pointer into the area.
struct table_entry {
  uint32_t key;
  uint8_t count;
  uint32_t aux_first;   // network byte order
  uint32_t aux_second;  // network byte order
  uint32_t first_address;  // network byte order
};

// End back to the start, terminator written.
void table_empty(table_view& table);

// Adds an entry unless one with its key is already present (an entry hidden
// behind one of count 0 included).  addresses holds count IPv4 addresses.
// 0 when added or already present, 1 when the entry and the terminator behind
// it do not fit (nothing is written then).
int table_add(table_view& table, uint32_t key, uint8_t count, uint32_t aux_first,
              uint32_t aux_second, const uint32_t* addresses);

// The first entry with key before end or before an entry whose count is 0.
// 0 and *out filled when found, 1 otherwise (out untouched).
int table_find(const uint8_t* area, size_t end, uint32_t key, table_entry* out);

}  // namespace redirect
