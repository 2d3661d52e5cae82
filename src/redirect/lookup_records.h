// The lookup answer's payload, unmasked: its records become address table
// entries.
#pragma once
#include <cstddef>
#include <cstdint>

#include "redirect/address_entries.h"

namespace redirect {

// Empties table, then adds one entry per record until the records run out or
// one of them ends the parse.  0 for a valid payload (also when parsing stopped
// early; the entries so far stay); 1 when the record or address count is 0 or
// when the table filled up (the entries that fitted stay).
int parse_lookup_payload(const uint8_t* payload, size_t size, table_view& table);

}  // namespace redirect
