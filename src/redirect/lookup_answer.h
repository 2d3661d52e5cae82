// Verifying a lookup answer and installing it into the address table; shared
// by the live exchange and the cache files.
#pragma once
#include <cstddef>
#include <cstdint>

#include "redirect/lookup_protocol.h"

namespace redirect {

// body: the answer datagram from its nonce on (size bytes, 24 to 2000).  The
// answer is valid when its code is the keyed MD5 the service computes for this
// request's id, time and tag.  With install false only the code is checked;
// with install true a valid code also replaces the address table by the
// payload's entries.  0 for a valid answer, 1 otherwise.
// The check alone, handing back the payload in clear: payload holds
// lookup_body_max_size - lbody_payload bytes, *payload_size is set to the
// payload's length.  0 when the code verifies, 1 otherwise.
int open_answer_payload(const uint8_t* body, size_t size, const uint8_t id[lookup_id_size],
                        uint32_t time, uint32_t tag, uint8_t* payload, size_t* payload_size);
inline constexpr size_t lookup_payload_max_size = lookup_body_max_size - lbody_payload;

int verify_and_install(const uint8_t* body, size_t size, const uint8_t id[lookup_id_size],
                       uint32_t time, uint32_t tag, bool install);

}  // namespace redirect
