// What the ranked-list fuzz targets share: sealing a nonce and a plain body
// into a blob as the statistics service would (signed and enciphered with the
// deployment's keys), so that inputs reach the record parser.
#pragma once
#include <cstdint>
#include <cstring>
#include <vector>

#include "deploy_values.h"
#include "digest/md5.h"

namespace fuzz_support {

inline void ranked_keyed(const uint32_t chain[4], const uint8_t* a, size_t na, const uint8_t* b,
                         size_t nb, uint8_t out[16]) {
  digest::md5_context ctx;
  digest::md5_start_chained(ctx, chain);
  digest::md5_update(ctx, a, static_cast<uint32_t>(na));
  if (nb) digest::md5_update(ctx, b, static_cast<uint32_t>(nb));
  digest::md5_final(ctx);
  std::memcpy(out, ctx.digest, 16);
}

// data: a 16-byte nonce, then the plain body (size >= 16).
inline std::vector<uint8_t> seal(const uint8_t* data, size_t size) {
  std::vector<uint8_t> blob(1 + 16 + 16, 0);
  blob[0] = 1;
  std::memcpy(blob.data() + 1, data, 16);
  const uint8_t* plain = data + 16;
  const size_t n = size - 16;
  ranked_keyed(deploy::ranked_mac_chain, data, 16, plain, n, blob.data() + 17);
  uint8_t key[16], feedback[16];
  ranked_keyed(deploy::ranked_key_chain, data, 16, nullptr, 0, key);
  std::memcpy(feedback, deploy::ranked_feedback, 16);
  for (size_t i = 0; i < n; ++i) {
    const uint8_t c = static_cast<uint8_t>(plain[i] ^ key[i % 16] ^ feedback[i % 16]);
    feedback[i % 16] = c;
    blob.push_back(c);
  }
  return blob;
}

}  // namespace fuzz_support
