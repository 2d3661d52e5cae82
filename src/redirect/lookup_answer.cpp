// Answer verification.  D1 (time, hi, lo, id, nonce) is the payload's mask;
// D2 (nonce, id, time, lo, hi, payload in clear) is the answer's code.  Both
// start from the deployment's chaining state.  The install builds the new
// table aside and publishes it whole, so searching threads never see it half
// built.
#include "redirect/lookup_answer.h"

#include <cstring>

#include "base/bytes.h"
#include "deploy_values.h"
#include "digest/md5.h"
#include "redirect/address_table.h"
#include "redirect/lookup_records.h"

namespace redirect {

int open_answer_payload(const uint8_t* body, size_t size, const uint8_t id[lookup_id_size],
                        uint32_t time, uint32_t tag, uint8_t* payload, size_t* payload_size) {
  *payload_size = 0;
  if (size < lookup_body_min_size || size > lookup_body_max_size) return 1;
  uint8_t time_bytes[4], hi[2], lo[2];
  bytes::store_u32le(time_bytes, time);
  bytes::store_u16le(hi, static_cast<uint16_t>((tag >> 16) ^ 0x5181u));
  bytes::store_u16le(lo, static_cast<uint16_t>((tag & 0xFFFFu) ^ 0x6BACu));
  const uint8_t* nonce = body + lbody_nonce;

  digest::md5_context ctx;
  digest::md5_start_chained(ctx, deploy::lookup_chain);
  digest::md5_update(ctx, time_bytes, sizeof time_bytes);
  digest::md5_update(ctx, hi, sizeof hi);
  digest::md5_update(ctx, lo, sizeof lo);
  digest::md5_update(ctx, id, lookup_id_size);
  digest::md5_update(ctx, nonce, lookup_nonce_size);
  digest::md5_final(ctx);
  uint8_t mask[digest::md5_size];
  std::memcpy(mask, ctx.digest, sizeof mask);

  *payload_size = size - lbody_payload;
  for (size_t j = 0; j < *payload_size; ++j)
    payload[j] = body[lbody_payload + j] ^ mask[j % sizeof mask];

  digest::md5_start_chained(ctx, deploy::lookup_chain);
  digest::md5_update(ctx, nonce, lookup_nonce_size);
  digest::md5_update(ctx, id, lookup_id_size);
  digest::md5_update(ctx, time_bytes, sizeof time_bytes);
  digest::md5_update(ctx, lo, sizeof lo);
  digest::md5_update(ctx, hi, sizeof hi);
  digest::md5_update(ctx, payload, static_cast<uint32_t>(*payload_size));
  digest::md5_final(ctx);
  return std::memcmp(ctx.digest, body + lbody_code, lookup_code_size) == 0 ? 0 : 1;
}

int verify_and_install(const uint8_t* body, size_t size, const uint8_t id[lookup_id_size],
                       uint32_t time, uint32_t tag, bool install) {
  uint8_t payload[lookup_payload_max_size];
  size_t payload_size = 0;
  if (open_answer_payload(body, size, id, time, tag, payload, &payload_size) != 0) return 1;
  if (!install) return 0;

  uint8_t staging[address_table_size];
  table_view table{staging, sizeof staging, 0};
  const int rc = parse_lookup_payload(payload, payload_size, table);
  // Without a table nothing was installed, and a caller that reported
  // success would go on to store the answer as the last good one.
  if (address_table_publish(table) != 0) return 1;
  return rc;
}

}  // namespace redirect
