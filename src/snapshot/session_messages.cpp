// Session datagrams.  The request's digest covers its plain bytes and the
// provider ID; the reply's covers the request's R as well, so a reply cannot be
// replayed into another exchange.
#include "snapshot/session_messages.h"

#include <cstring>

#include "base/bytes.h"
#include "deploy_values.h"
#include "digest/md5.h"
#include "snapshot/chain_cipher.h"

namespace snapshot {

void build_session_request(uint8_t out[session_datagram_size], const session_identity& id,
                           uint32_t session_flags, uint32_t start_time, uint32_t t0,
                           uint32_t process_id, const uint8_t r[session_random_size],
                           const char* p) {
  std::memcpy(out + sq_magic, session_request_magic, 4);
  bytes::store_u32le(out + sq_time, t0);
  bytes::store_u32le(out + sq_interface_address, id.interface_address);
  bytes::store_u32le(out + sq_server_address, id.server_address);
  bytes::store_u16le(out + sq_game_port, static_cast<uint16_t>(id.game_port));
  bytes::store_u16le(out + sq_query_port, static_cast<uint16_t>(id.query_port));
  bytes::store_u32le(out + sq_session_flags, session_flags);
  bytes::store_u32le(out + sq_start_time, start_time);
  bytes::store_u32le(out + sq_process_id, process_id);
  std::memcpy(out + sq_random, r, session_random_size);

  digest::md5_context ctx;
  digest::md5_start(ctx);
  digest::md5_update(ctx, out, sq_digest);
  digest::md5_update_text(ctx, p);
  digest::md5_final(ctx);
  std::memcpy(out + sq_digest, ctx.digest, 16);
  chain_encipher(out + session_cipher_begin, session_cipher_end - session_cipher_begin,
                 out + sq_digest, deploy::session_request_start_byte);
}

int check_session_reply(const uint8_t* data, size_t length, const uint8_t r[session_random_size],
                        const session_identity& id, const char* p, uint32_t* session_flags,
                        uint32_t* service_time) {
  if (!data || length != session_datagram_size) return 1;
  uint8_t plain[session_datagram_size];
  std::memcpy(plain, data, session_datagram_size);
  chain_decipher(plain + session_cipher_begin, session_cipher_end - session_cipher_begin,
                 plain + sr_digest, deploy::session_reply_start_byte);
  if (std::memcmp(plain + sr_magic, session_reply_magic, 4) != 0) return 1;
  if (bytes::load_u32le(plain + sr_interface_address) != id.interface_address ||
      bytes::load_u32le(plain + sr_server_address) != id.server_address ||
      bytes::load_u16le(plain + sr_game_port) != static_cast<uint16_t>(id.game_port) ||
      bytes::load_u16le(plain + sr_query_port) != static_cast<uint16_t>(id.query_port))
    return 1;

  digest::md5_context ctx;
  digest::md5_start(ctx);
  digest::md5_update(ctx, r, session_random_size);
  digest::md5_update(ctx, plain, sr_digest);
  digest::md5_update_text(ctx, p);
  digest::md5_final(ctx);
  if (std::memcmp(ctx.digest, plain + sr_digest, 16) != 0) return 1;

  *session_flags = bytes::load_u32le(plain + sr_session_flags);
  *service_time = bytes::load_u32le(plain + sr_service_time);
  return 0;
}

}  // namespace snapshot
