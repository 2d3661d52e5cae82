// The lookup request.  The code covers id, time, tag and record in clear; the
// mask (byte k of the id for offset 6 + 8i + k) then hides all but the id.
#include "redirect/lookup_request.h"

#include <cstring>

#include "base/bytes.h"
#include "core/process_state.h"
#include "core/random.h"
#include "deploy_values.h"
#include "digest/md5.h"
#include "platform/platform.h"

namespace redirect {

void build_lookup_request(lookup_request& out, const uint8_t id[lookup_id_size], uint32_t time,
                          uint32_t tag, const uint8_t* record, const uint32_t chain[4]) {
  size_t record_length = bytes::load_u16le(record);
  if (record_length > core::host_image_record_size) record_length = core::host_image_record_size;

  uint8_t* b = out.bytes;
  std::memcpy(b, lookup_magic, lookup_magic_size);
  b[lrq_kind] = lookup_request_kind;
  std::memcpy(b + lrq_id, id, lookup_id_size);
  bytes::store_u32le(b + lrq_time, time);
  bytes::store_u32le(b + lrq_tag, tag);
  if (record_length) std::memcpy(b + lrq_record, record, record_length);
  const size_t signed_end = lrq_record + record_length;

  digest::md5_context ctx;
  digest::md5_start_chained(ctx, chain);
  digest::md5_update(ctx, b + lrq_id, static_cast<uint32_t>(signed_end - lrq_id));
  digest::md5_final(ctx);

  for (size_t i = lrq_time; i < signed_end; ++i) b[i] ^= id[(i - lrq_id) % lookup_id_size];
  std::memcpy(b + signed_end, ctx.digest, lookup_code_size);

  out.length = signed_end + lookup_code_size;
  std::memcpy(out.id, id, lookup_id_size);
  out.time = time;
  out.tag = tag;
}

void make_lookup_request(lookup_request& out) {
  uint8_t id[lookup_id_size];
  core::random_bytes(id, sizeof id);
  build_lookup_request(out, id, platform::now_seconds(), lookup_client_tag,
                       core::process.host_image_record, deploy::lookup_chain);
}

}  // namespace redirect
