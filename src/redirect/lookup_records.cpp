// Record parser of the lookup answer's payload.
//
// The payload is signed by the service, but the parser must still never read
// outside it, whatever its counts and indices say.  Two rules make sure of it:
//  - an address number outside 1..A (or whose four bytes would lie beyond the
//    payload) names the address 0.0.0.0: the first index of a list then ends
//    the parse, as an index 0 does; a later one stores 0.0.0.0 in the entry,
//    where nothing reads it (only first addresses are ever given out);
//  - an index byte beyond the payload's end reads as 0.  A record with n = 0
//    borrows its count from an earlier record and reads that many index bytes
//    behind its own header, which near the end of the payload would otherwise
//    run past it.
// A type 0x40 record reuses the previous record's list; a first record of that
// type has none to reuse and ends the parse like a list whose first index is 0.
#include "redirect/lookup_records.h"

#include "base/bytes.h"
#include "redirect/lookup_protocol.h"

namespace redirect {
namespace {

constexpr size_t max_record_count = 15;  // n is four bits

struct payload_view {
  const uint8_t* bytes;
  size_t size;
  unsigned address_count;
};

uint8_t index_at(const payload_view& p, size_t offset) {
  return offset < p.size ? p.bytes[offset] : 0;
}

uint32_t address_at(const payload_view& p, unsigned number) {
  if (number == 0 || number > p.address_count) return 0;
  const size_t offset = lpl_addresses + 4u * (number - 1);
  if (offset + 4 > p.size) return 0;
  return bytes::load_u32le(p.bytes + offset);  // network order, as received
}

size_t extra_indices(uint8_t type) {
  if (type == lrec_one_aux) return 1;
  if (type == lrec_two_aux) return 2;
  return 0;
}

}  // namespace

int parse_lookup_payload(const uint8_t* payload, size_t size, table_view& table) {
  table_empty(table);
  const payload_view p{payload, size, size > lpl_address_count ? payload[lpl_address_count] : 0u};
  const unsigned record_count = size > lpl_record_count ? payload[lpl_record_count] : 0u;
  if (record_count == 0 || p.address_count == 0) return 1;

  uint32_t prev_aux_first = 0, prev_aux_second = 0;
  uint8_t last_count = 0;
  bool have_list = false;
  size_t prev_list = 0;
  size_t at = lpl_addresses + 4u * p.address_count;

  for (unsigned i = 0; i < record_count; ++i) {
    if (at >= size || size - at < lookup_record_min_size) break;
    const uint8_t header = payload[at + lrec_header];
    const uint8_t type = header & 0xF0;
    const uint8_t n = header & 0x0F;
    if (n == 0 && (type == lrec_plain || type > lrec_same_list || (i == 0 && type > lrec_two_aux)))
      break;
    const size_t extra = extra_indices(type);
    const size_t record_size = lookup_record_min_size + extra + n;
    if (size - at < record_size) break;

    const uint32_t key = bytes::load_u32le(payload + at + lrec_key);
    uint32_t aux_first = 0, aux_second = 0;
    if (type == lrec_one_aux) {
      aux_first = aux_second = address_at(p, payload[at + lrec_extra]);
    } else if (type == lrec_two_aux) {
      aux_first = address_at(p, payload[at + lrec_extra]);
      aux_second = address_at(p, payload[at + lrec_extra + 1]);
    } else if (type == lrec_same_aux || type == lrec_same_list) {
      aux_first = prev_aux_first;
      aux_second = prev_aux_second;
    }

    size_t list = at + lrec_extra + extra;
    if (type == lrec_same_list) {
      if (!have_list) break;
      list = prev_list;
    }
    const uint8_t count = n ? n : last_count;
    if (address_at(p, index_at(p, list)) == 0) break;

    uint32_t addresses[max_record_count];
    for (uint8_t k = 0; k < count; ++k) addresses[k] = address_at(p, index_at(p, list + k));
    if (table_add(table, key, count, aux_first, aux_second, addresses) != 0) return 1;

    prev_aux_first = aux_first;
    prev_aux_second = aux_second;
    if (n) last_count = n;
    prev_list = list;
    have_list = true;
    at += record_size;
  }
  return 0;
}

}  // namespace redirect
