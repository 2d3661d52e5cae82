// build_snapshot.  The three digests take the ports and addresses in different
// orders; each is spelled out where it is computed, as the service checks it.
#include "snapshot/snapshot_body.h"

#include <cstring>
#include <new>

#include "base/bytes.h"
#include "base/text.h"
#include "core/random.h"
#include "core/service_state.h"
#include "deploy_values.h"
#include "digest/md5.h"
#include "platform/platform.h"
#include "snapshot/chain_cipher.h"

namespace snapshot {

void time_text(uint32_t t, char out[time_text_size]) {
  text::format_bounded(out, time_text_size, "%ld", static_cast<long>(static_cast<int32_t>(t)));
}

namespace {
const char* provider_id_text() { return core::service ? core::service->provider_id : ""; }
}  // namespace

int build_snapshot(snapshot_record& record, const uint8_t* data, size_t n,
                   uint32_t interface_address, uint32_t server_address, uint32_t game_port,
                   uint32_t query_port) {
  record.buffer = nullptr;
  record.body_length = 0;
  const uint64_t size = uint64_t{record.header_reserve} + snapshot_prelude_size + n;
  if (size > UINT32_MAX) return 1;
  uint8_t* buffer = new (std::nothrow) uint8_t[static_cast<size_t>(size)];
  if (!buffer) return 1;
  record.buffer = buffer;
  record.body_length = static_cast<uint32_t>(snapshot_prelude_size + n);
  uint8_t* body = buffer + record.header_reserve;

  const uint32_t t = platform::now_seconds();
  uint8_t* nonce = body + sb_nonce;
  core::random_bytes(nonce, 16);

  uint8_t* identity = body + sb_identity;
  bytes::store_u32le(identity + sid_time, t);
  bytes::store_u16le(identity + sid_game_port, static_cast<uint16_t>(game_port));
  bytes::store_u16le(identity + sid_query_port, static_cast<uint16_t>(query_port));
  bytes::store_u32le(identity + sid_interface_address, interface_address);
  bytes::store_u32le(identity + sid_server_address, server_address);
  chain_encipher(identity, identity_block_size, nonce, deploy::identity_start_byte);

  char t_text[time_text_size];
  time_text(t, t_text);
  const char* p = provider_id_text();
  uint8_t gp[2], qp[2], sa[4], ia[4], tb[4];
  bytes::store_u16le(gp, static_cast<uint16_t>(game_port));
  bytes::store_u16le(qp, static_cast<uint16_t>(query_port));
  bytes::store_u32le(sa, server_address);
  bytes::store_u32le(ia, interface_address);
  bytes::store_u32le(tb, t);

  digest::md5_context d1;
  digest::md5_start(d1);
  digest::md5_update(d1, nonce, 16);
  digest::md5_update(d1, gp, 2);
  digest::md5_update(d1, qp, 2);
  digest::md5_update(d1, sa, 4);
  digest::md5_update(d1, ia, 4);
  digest::md5_update_text(d1, p);
  digest::md5_update_text(d1, t_text);
  digest::md5_final(d1);

  digest::md5_context d2;
  digest::md5_start(d2);
  digest::md5_update(d2, nonce, 16);
  digest::md5_update(d2, qp, 2);
  digest::md5_update(d2, gp, 2);
  digest::md5_update(d2, ia, 4);
  digest::md5_update(d2, sa, 4);
  digest::md5_update(d2, tb, 4);
  digest::md5_update_text(d2, p);
  digest::md5_final(d2);

  // n may exceed what one update takes on a 64-bit build; feed it in pieces.
  digest::md5_context d3;
  digest::md5_start(d3);
  digest::md5_update(d3, nonce, 16);
  digest::md5_update_text(d3, p);
  for (size_t done = 0; done < n;) {
    const size_t piece = n - done > 0x40000000u ? 0x40000000u : n - done;
    digest::md5_update(d3, data + done, static_cast<uint32_t>(piece));
    done += piece;
  }
  digest::md5_update_text(d3, t_text);
  digest::md5_final(d3);

  std::memcpy(body + sb_check_digest, d2.digest, 16);
  std::memcpy(body + sb_data_digest, d3.digest, 16);
  if (n) std::memcpy(body + sb_data, data, n);
  chain_encipher(body + sb_data, n, d1.digest, nonce[3]);
  return 0;
}

}  // namespace snapshot
