// MD5 compression and streaming.  Whole 64-byte blocks are compressed straight
// from the caller's memory; only a partial block is staged in the context
// buffer.  The result is identical to absorbing one byte at a time.
#include "digest/md5.h"

#include <cstring>

#include "base/bytes.h"

namespace digest {
namespace {

inline uint32_t rotl(uint32_t x, int c) { return (x << c) | (x >> (32 - c)); }

// Each step waits on b, the word the step before produced.  The message word
// and constant are added to a first, and each round function is written so that
// the fewest operations come after b: G as two disjoint halves whose sum is
// their OR (the half without b goes in early), H with c ^ d formed first.
#define MD5_F(x, y, z) ((z) ^ ((x) & ((y) ^ (z))))
#define MD5_H(x, y, z) ((x) ^ ((y) ^ (z)))
#define MD5_I(x, y, z) ((y) ^ ((x) | ~(z)))
#define MD5_STEP(f, a, b, c, d, x, t, s) \
  (a) += (x) + (t);                      \
  (a) += f((b), (c), (d));               \
  (a) = rotl((a), (s));                  \
  (a) += (b);
#define MD5_STEP_G(a, b, c, d, x, t, s) \
  (a) += (x) + (t);                     \
  (a) += (c) & ~(d);                    \
  (a) += (b) & (d);                     \
  (a) = rotl((a), (s));                 \
  (a) += (b);

void compress(uint32_t state[4], const uint8_t* block) {
  uint32_t x[16];
  for (int i = 0; i < 16; ++i) x[i] = bytes::load_u32le(block + 4 * i);
  uint32_t a = state[0], b = state[1], c = state[2], d = state[3];

  MD5_STEP(MD5_F, a, b, c, d, x[0], 0xd76aa478, 7)
  MD5_STEP(MD5_F, d, a, b, c, x[1], 0xe8c7b756, 12)
  MD5_STEP(MD5_F, c, d, a, b, x[2], 0x242070db, 17)
  MD5_STEP(MD5_F, b, c, d, a, x[3], 0xc1bdceee, 22)
  MD5_STEP(MD5_F, a, b, c, d, x[4], 0xf57c0faf, 7)
  MD5_STEP(MD5_F, d, a, b, c, x[5], 0x4787c62a, 12)
  MD5_STEP(MD5_F, c, d, a, b, x[6], 0xa8304613, 17)
  MD5_STEP(MD5_F, b, c, d, a, x[7], 0xfd469501, 22)
  MD5_STEP(MD5_F, a, b, c, d, x[8], 0x698098d8, 7)
  MD5_STEP(MD5_F, d, a, b, c, x[9], 0x8b44f7af, 12)
  MD5_STEP(MD5_F, c, d, a, b, x[10], 0xffff5bb1, 17)
  MD5_STEP(MD5_F, b, c, d, a, x[11], 0x895cd7be, 22)
  MD5_STEP(MD5_F, a, b, c, d, x[12], 0x6b901122, 7)
  MD5_STEP(MD5_F, d, a, b, c, x[13], 0xfd987193, 12)
  MD5_STEP(MD5_F, c, d, a, b, x[14], 0xa679438e, 17)
  MD5_STEP(MD5_F, b, c, d, a, x[15], 0x49b40821, 22)

  MD5_STEP_G(a, b, c, d, x[1], 0xf61e2562, 5)
  MD5_STEP_G(d, a, b, c, x[6], 0xc040b340, 9)
  MD5_STEP_G(c, d, a, b, x[11], 0x265e5a51, 14)
  MD5_STEP_G(b, c, d, a, x[0], 0xe9b6c7aa, 20)
  MD5_STEP_G(a, b, c, d, x[5], 0xd62f105d, 5)
  MD5_STEP_G(d, a, b, c, x[10], 0x02441453, 9)
  MD5_STEP_G(c, d, a, b, x[15], 0xd8a1e681, 14)
  MD5_STEP_G(b, c, d, a, x[4], 0xe7d3fbc8, 20)
  MD5_STEP_G(a, b, c, d, x[9], 0x21e1cde6, 5)
  MD5_STEP_G(d, a, b, c, x[14], 0xc33707d6, 9)
  MD5_STEP_G(c, d, a, b, x[3], 0xf4d50d87, 14)
  MD5_STEP_G(b, c, d, a, x[8], 0x455a14ed, 20)
  MD5_STEP_G(a, b, c, d, x[13], 0xa9e3e905, 5)
  MD5_STEP_G(d, a, b, c, x[2], 0xfcefa3f8, 9)
  MD5_STEP_G(c, d, a, b, x[7], 0x676f02d9, 14)
  MD5_STEP_G(b, c, d, a, x[12], 0x8d2a4c8a, 20)

  MD5_STEP(MD5_H, a, b, c, d, x[5], 0xfffa3942, 4)
  MD5_STEP(MD5_H, d, a, b, c, x[8], 0x8771f681, 11)
  MD5_STEP(MD5_H, c, d, a, b, x[11], 0x6d9d6122, 16)
  MD5_STEP(MD5_H, b, c, d, a, x[14], 0xfde5380c, 23)
  MD5_STEP(MD5_H, a, b, c, d, x[1], 0xa4beea44, 4)
  MD5_STEP(MD5_H, d, a, b, c, x[4], 0x4bdecfa9, 11)
  MD5_STEP(MD5_H, c, d, a, b, x[7], 0xf6bb4b60, 16)
  MD5_STEP(MD5_H, b, c, d, a, x[10], 0xbebfbc70, 23)
  MD5_STEP(MD5_H, a, b, c, d, x[13], 0x289b7ec6, 4)
  MD5_STEP(MD5_H, d, a, b, c, x[0], 0xeaa127fa, 11)
  MD5_STEP(MD5_H, c, d, a, b, x[3], 0xd4ef3085, 16)
  MD5_STEP(MD5_H, b, c, d, a, x[6], 0x04881d05, 23)
  MD5_STEP(MD5_H, a, b, c, d, x[9], 0xd9d4d039, 4)
  MD5_STEP(MD5_H, d, a, b, c, x[12], 0xe6db99e5, 11)
  MD5_STEP(MD5_H, c, d, a, b, x[15], 0x1fa27cf8, 16)
  MD5_STEP(MD5_H, b, c, d, a, x[2], 0xc4ac5665, 23)

  MD5_STEP(MD5_I, a, b, c, d, x[0], 0xf4292244, 6)
  MD5_STEP(MD5_I, d, a, b, c, x[7], 0x432aff97, 10)
  MD5_STEP(MD5_I, c, d, a, b, x[14], 0xab9423a7, 15)
  MD5_STEP(MD5_I, b, c, d, a, x[5], 0xfc93a039, 21)
  MD5_STEP(MD5_I, a, b, c, d, x[12], 0x655b59c3, 6)
  MD5_STEP(MD5_I, d, a, b, c, x[3], 0x8f0ccc92, 10)
  MD5_STEP(MD5_I, c, d, a, b, x[10], 0xffeff47d, 15)
  MD5_STEP(MD5_I, b, c, d, a, x[1], 0x85845dd1, 21)
  MD5_STEP(MD5_I, a, b, c, d, x[8], 0x6fa87e4f, 6)
  MD5_STEP(MD5_I, d, a, b, c, x[15], 0xfe2ce6e0, 10)
  MD5_STEP(MD5_I, c, d, a, b, x[6], 0xa3014314, 15)
  MD5_STEP(MD5_I, b, c, d, a, x[13], 0x4e0811a1, 21)
  MD5_STEP(MD5_I, a, b, c, d, x[4], 0xf7537e82, 6)
  MD5_STEP(MD5_I, d, a, b, c, x[11], 0xbd3af235, 10)
  MD5_STEP(MD5_I, c, d, a, b, x[2], 0x2ad7d2bb, 15)
  MD5_STEP(MD5_I, b, c, d, a, x[9], 0xeb86d391, 21)

  state[0] += a;
  state[1] += b;
  state[2] += c;
  state[3] += d;
}

}  // namespace

void md5_start(md5_context& ctx) {
  static const uint32_t initial[4] = {0x67452301u, 0xefcdab89u, 0x98badcfeu, 0x10325476u};
  md5_start_chained(ctx, initial);
  ctx.count[0] = 0;
}

void md5_start_chained(md5_context& ctx, const uint32_t chain[4]) {
  ctx.count[0] = 512;
  ctx.count[1] = 0;
  for (int i = 0; i < 4; ++i) ctx.state[i] = chain[i];
}

void md5_update(md5_context& ctx, const void* data, uint32_t length) {
  if (length == 0) return;
  const uint8_t* in = static_cast<const uint8_t*>(data);
  uint32_t index = (ctx.count[0] >> 3) & 63u;
  uint32_t low = ctx.count[0] + (length << 3);
  if (low < ctx.count[0]) ctx.count[1] += 1;
  ctx.count[1] += length >> 29;
  ctx.count[0] = low;

  if (index != 0) {
    uint32_t room = 64 - index;
    if (length < room) {
      std::memcpy(ctx.buffer + index, in, length);
      return;
    }
    std::memcpy(ctx.buffer + index, in, room);
    compress(ctx.state, ctx.buffer);
    in += room;
    length -= room;
  }
  while (length >= 64) {
    compress(ctx.state, in);
    in += 64;
    length -= 64;
  }
  if (length) std::memcpy(ctx.buffer, in, length);
}

void md5_update_text(md5_context& ctx, const char* text) {
  md5_update(ctx, text, static_cast<uint32_t>(std::strlen(text)));
}

void md5_final(md5_context& ctx) {
  static const uint8_t padding[64] = {0x80};
  uint32_t saved[2] = {ctx.count[0], ctx.count[1]};
  uint32_t index = (ctx.count[0] >> 3) & 63u;
  uint32_t pad = index < 56 ? 56 - index : 120 - index;
  md5_update(ctx, padding, pad);
  bytes::store_u32le(ctx.buffer + 56, saved[0]);
  bytes::store_u32le(ctx.buffer + 60, saved[1]);
  compress(ctx.state, ctx.buffer);
  for (int i = 0; i < 4; ++i) bytes::store_u32le(ctx.digest + 4 * i, ctx.state[i]);
}

void hex_encode(const uint8_t* data, size_t length, char* out) {
  static const char alphabet[] = "0123456789abcdef";
  for (size_t i = 0; i < length; ++i) {
    out[2 * i] = alphabet[data[i] >> 4];
    out[2 * i + 1] = alphabet[data[i] & 15];
  }
  out[2 * length] = '\0';
}

void md5_hex(const md5_context& ctx, char* out) { hex_encode(ctx.digest, md5_size, out); }

void md5_of(const void* data, uint32_t length, uint8_t* out) {
  md5_context ctx;
  md5_start(ctx);
  md5_update(ctx, data, length);
  md5_final(ctx);
  std::memcpy(out, ctx.digest, md5_size);
}

}  // namespace digest
