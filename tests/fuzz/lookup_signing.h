// What the lookup fuzz targets share: signing a payload as the service would,
// so that the inputs reach the record parser instead of failing the code check.
#pragma once
#include <cstdint>
#include <cstring>
#include <vector>

#include "deploy_values.h"
#include "digest/md5.h"

namespace fuzz_support {

// A failed expectation is a finding: stop the run right here.
inline void check(bool ok) {
  if (!ok) __builtin_trap();
}

// Keyed MD5 from the deployment's lookup chaining state.
inline void keyed(const std::vector<uint8_t>& message, uint8_t out[16]) {
  digest::md5_context ctx;
  digest::md5_start_chained(ctx, deploy::lookup_chain);
  digest::md5_update(ctx, message.data(), static_cast<uint32_t>(message.size()));
  digest::md5_final(ctx);
  std::memcpy(out, ctx.digest, 16);
}

}  // namespace fuzz_support
