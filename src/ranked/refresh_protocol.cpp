// Ranked list refresh datagrams the client sends.
#include "ranked/refresh_protocol.h"

#include <cstring>

#include "base/bytes.h"
#include "digest/md5.h"

namespace ranked {

void make_list_request(uint8_t* out, uint32_t session, uint32_t time, uint32_t challenge) {
  std::memcpy(out, request_magic, sizeof request_magic);
  bytes::store_u32le(out + hmq_session, session);
  out[hmq_kind] = list_request_kind;
  bytes::store_u16le(out + hmq_three, 3);
  bytes::store_u32le(out + hmq_time, time);
  bytes::store_u32le(out + hmq_word, list_request_word);
  uint8_t challenge_bytes[4];
  bytes::store_u32le(challenge_bytes, challenge);
  digest::md5_context ctx;
  digest::md5_start(ctx);
  digest::md5_update(ctx, challenge_bytes, 4);
  digest::md5_update(ctx, out, static_cast<uint32_t>(hmq_digest));
  digest::md5_final(ctx);
  std::memcpy(out + hmq_digest, ctx.digest, digest::md5_size);
}

void make_acknowledgement(uint8_t* out, uint32_t session, uint32_t mask) {
  std::memcpy(out, request_magic, sizeof request_magic);
  bytes::store_u32le(out + hmq_session, session);
  out[hmq_kind] = acknowledgement_kind;
  bytes::store_u32le(out + hmq_mask, mask);
}

}  // namespace ranked
