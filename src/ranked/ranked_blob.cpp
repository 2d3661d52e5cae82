// Ranked-list blob: verification, deciphering and the table built from it.
#include "ranked/ranked_blob.h"

#include <cstdlib>
#include <cstring>

#include "base/bytes.h"
#include "deploy_values.h"
#include "digest/md5.h"

namespace ranked {
namespace {
constexpr size_t piece_size = 64;

int compare_entries(const void* a, const void* b) {
  return std::memcmp(a, b, ranked_entry_size);
}
}  // namespace

void list_cipher_start(list_cipher& cipher, const uint8_t* nonce) {
  digest::md5_context ctx;
  digest::md5_start_chained(ctx, deploy::ranked_key_chain);
  digest::md5_update(ctx, nonce, ranked_nonce_size);
  digest::md5_final(ctx);
  std::memcpy(cipher.key, ctx.digest, sizeof cipher.key);
  std::memcpy(cipher.feedback, deploy::ranked_feedback, sizeof cipher.feedback);
  cipher.position = 0;
}

void list_cipher_run(list_cipher& cipher, const uint8_t* in, uint8_t* out, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    const size_t at = (cipher.position + i) & 15u;
    const uint8_t c = in[i];
    out[i] = static_cast<uint8_t>(c ^ cipher.key[at] ^ cipher.feedback[at]);
    cipher.feedback[at] = c;
  }
  cipher.position += n;
}

int verify_ranked_blob(const uint8_t* blob, size_t m) {
  if (!blob || m < ranked_blob_min_size || m > ranked_blob_max_size) return 1;
  if (blob[rlb_version] != ranked_blob_version) return 1;
  list_cipher cipher;
  list_cipher_start(cipher, blob + rlb_nonce);
  digest::md5_context mac;
  digest::md5_start_chained(mac, deploy::ranked_mac_chain);
  digest::md5_update(mac, blob + rlb_nonce, ranked_nonce_size);
  uint8_t piece[piece_size];
  for (size_t at = rlb_body; at < m; at += piece_size) {
    const size_t n = m - at < piece_size ? m - at : piece_size;
    list_cipher_run(cipher, blob + at, piece, n);
    digest::md5_update(mac, piece, static_cast<uint32_t>(n));
  }
  digest::md5_final(mac);
  return std::memcmp(mac.digest, blob + rlb_signature, digest::md5_size) == 0 ? 0 : 1;
}

size_t build_ranked_table(uint8_t* blob, size_t m, uint8_t* table) {
  list_cipher cipher;
  list_cipher_start(cipher, blob + rlb_nonce);
  list_cipher_run(cipher, blob + rlb_body, blob + rlb_body, m - rlb_body);
  const uint16_t default_port = bytes::load_u16le(blob + rlb_default_port);

  size_t count = 0;
  size_t at = rlb_records;
  while (at < m && count < ranked_max_entries) {
    const uint8_t flag = blob[at];
    if (flag == 0) break;
    const bool own_port = (flag & record_default_port) == 0;
    const size_t record_size = own_port ? 7 : 5;
    if (record_size > m - at) break;
    uint8_t* entry = table + count * ranked_entry_size;
    std::memcpy(entry + rle_address, blob + at + 1, 4);
    bytes::store_u16be(entry + rle_port, own_port ? bytes::load_u16le(blob + at + 5) : default_port);
    bytes::store_u16le(entry + rle_flags, static_cast<uint16_t>(flag & record_flags_mask));
    ++count;
    at += record_size;
  }
  std::qsort(table, count, ranked_entry_size, compare_entries);
  return count;
}

}  // namespace ranked
