// Name key: the name is lower-cased a block at a time into a stack buffer, so
// names of any length are keyed without allocation.
#include "redirect/name_key.h"

#include "base/bytes.h"
#include "base/text.h"
#include "digest/md5.h"

namespace redirect {

uint32_t name_key(const char* name) {
  digest::md5_context ctx;
  digest::md5_start(ctx);
  char block[64];
  uint32_t n = 0;
  for (const char* p = name; *p; ++p) {
    block[n++] = text::ascii_lower(*p);
    if (n == sizeof block) {
      digest::md5_update(ctx, block, n);
      n = 0;
    }
  }
  digest::md5_update(ctx, block, n);
  digest::md5_final(ctx);
  return bytes::load_u32be(ctx.digest) ^ bytes::load_u32be(ctx.digest + 4) ^
         bytes::load_u32be(ctx.digest + 8) ^ bytes::load_u32be(ctx.digest + 12);
}

}  // namespace redirect
