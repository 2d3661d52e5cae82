// Building an "HHHL3" lookup request: id, time, client tag and the host image
// record, signed with the keyed MD5 and masked with the id.
#pragma once
#include <cstddef>
#include <cstdint>

#include "redirect/lookup_protocol.h"

namespace redirect {

// One exchange's request and the values its answer is checked against.
struct lookup_request {
  uint8_t bytes[lookup_request_max_size];
  size_t length;
  uint8_t id[lookup_id_size];
  uint32_t time;
  uint32_t tag;
};

// Lays out the request from the given values.  The host image record's first
// two bytes are its own length L (0: nothing of it is sent); a length beyond
// the record's size is taken as that size.  chain is the keyed MD5's state.
void build_lookup_request(lookup_request& out, const uint8_t id[lookup_id_size], uint32_t time,
                          uint32_t tag, const uint8_t* record, const uint32_t chain[4]);

// A fresh request for this process: new random id, the current time, the
// client tag, the host image record and the deployment's chaining state.
void make_lookup_request(lookup_request& out);

}  // namespace redirect
