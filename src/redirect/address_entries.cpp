// Packing and searching address table entries.  A search trusts only the end
// position and the counts it walks over, so it never leaves [area, end).
#include "redirect/address_entries.h"

#include "base/bytes.h"

namespace redirect {
namespace {

// Whether any entry before end holds key.  Unlike a search it walks past
// entries of count 0: keys stay unique in the whole table, hidden entries
// included, so a repeated key never takes room behind one.
bool holds_key(const uint8_t* area, size_t end, uint32_t key) {
  size_t at = 0;
  while (at + entry_header_size <= end) {
    const uint8_t* entry = area + at;
    const size_t size = entry_header_size + 4u * entry[entry_count];
    if (at + size > end) return false;
    if (bytes::load_u32le(entry + entry_key) == key) return true;
    at += size;
  }
  return false;
}

}  // namespace

void table_empty(table_view& table) {
  table.end = 0;
  if (table.capacity >= table_terminator_size) bytes::store_u16le(table.area, 0);
}

int table_add(table_view& table, uint32_t key, uint8_t count, uint32_t aux_first,
              uint32_t aux_second, const uint32_t* addresses) {
  if (holds_key(table.area, table.end, key)) return 0;
  const size_t size = entry_header_size + 4u * count;
  if (table.end + size + table_terminator_size > table.capacity) return 1;
  uint8_t* entry = table.area + table.end;
  entry[entry_reserved] = 0;
  entry[entry_count] = count;
  bytes::store_u32le(entry + entry_key, key);
  // Addresses keep their network byte order: both builds are little-endian,
  // so the little-endian store writes the bytes as they were received.
  bytes::store_u32le(entry + entry_aux_first, aux_first);
  bytes::store_u32le(entry + entry_aux_second, aux_second);
  for (uint8_t i = 0; i < count; ++i)
    bytes::store_u32le(entry + entry_addresses + 4u * i, addresses[i]);
  table.end += size;
  bytes::store_u16le(table.area + table.end, 0);
  return 0;
}

int table_find(const uint8_t* area, size_t end, uint32_t key, table_entry* out) {
  size_t at = 0;
  while (at + entry_header_size <= end) {
    const uint8_t* entry = area + at;
    const uint8_t count = entry[entry_count];
    const size_t size = entry_header_size + 4u * count;
    if (count == 0 || at + size > end) return 1;
    if (bytes::load_u32le(entry + entry_key) == key) {
      if (out) {
        out->key = key;
        out->count = count;
        out->aux_first = bytes::load_u32le(entry + entry_aux_first);
        out->aux_second = bytes::load_u32le(entry + entry_aux_second);
        out->first_address = bytes::load_u32le(entry + entry_addresses);
      }
      return 0;
    }
    at += size;
  }
  return 1;
}

}  // namespace redirect
