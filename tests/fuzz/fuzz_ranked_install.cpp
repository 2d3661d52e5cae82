// Arbitrary bytes as a ranked-list blob: installed as they are, then taken as
// a nonce and a plain body, signed and enciphered with the deployment's keys
// so that the record parser is reached.  A sealed blob of a valid length must
// install; the table never holds more than 8000 entries.
#include <cstdint>
#include <cstring>
#include <vector>

#include "deploy_values.h"
#include "digest/md5.h"
#include "lookup_signing.h"
#include "ranked/ranked_blob.h"
#include "ranked/ranked_store.h"

namespace {

using fuzz_support::check;

void keyed(const uint32_t chain[4], const uint8_t* a, size_t na, const uint8_t* b, size_t nb,
           uint8_t out[16]) {
  digest::md5_context ctx;
  digest::md5_start_chained(ctx, chain);
  digest::md5_update(ctx, a, static_cast<uint32_t>(na));
  if (nb) digest::md5_update(ctx, b, static_cast<uint32_t>(nb));
  digest::md5_final(ctx);
  std::memcpy(out, ctx.digest, 16);
}

std::vector<uint8_t> seal(const uint8_t* data, size_t size) {
  std::vector<uint8_t> blob(1 + 16 + 16, 0);
  blob[0] = 1;
  std::memcpy(blob.data() + 1, data, 16);
  const uint8_t* plain = data + 16;
  const size_t n = size - 16;
  keyed(deploy::ranked_mac_chain, data, 16, plain, n, blob.data() + 17);
  uint8_t key[16], feedback[16];
  keyed(deploy::ranked_key_chain, data, 16, nullptr, 0, key);
  std::memcpy(feedback, deploy::ranked_feedback, 16);
  for (size_t i = 0; i < n; ++i) {
    const uint8_t c = static_cast<uint8_t>(plain[i] ^ key[i % 16] ^ feedback[i % 16]);
    feedback[i % 16] = c;
    blob.push_back(c);
  }
  return blob;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool ready = ranked::arena_allocate() == 0;
  check(ready);
  const int as_is = ranked::install_ranked_blob(data, size);
  check(as_is == 0 || as_is == 1);
  if (size < 16) return 0;
  const std::vector<uint8_t> blob = seal(data, size);
  const int sealed = ranked::install_ranked_blob(blob.data(), blob.size());
  const bool valid_length = blob.size() >= ranked::ranked_blob_min_size &&
                            blob.size() <= ranked::ranked_blob_max_size;
  check(sealed == (valid_length ? 0 : 1));
  check(ranked::ranked_count() <= ranked::ranked_max_entries);
  ranked::ranked_lookup(0x0100007F, 0x4C75);
  return 0;
}
