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

// The 64 steps once, for one lane or two: LANE_STEP(step, f, a, b, c, d, word
// index, constant, shift) is given each step in order.
#define MD5_NONE
#define MD5_STEP_G_F(f, a, b, c, d, x, t, s) MD5_STEP_G(a, b, c, d, x, t, s)
#define MD5_ROUNDS(LANE_STEP) \
  LANE_STEP(MD5_STEP, MD5_F, a, b, c, d, 0, 0xd76aa478, 7) \
  LANE_STEP(MD5_STEP, MD5_F, d, a, b, c, 1, 0xe8c7b756, 12) \
  LANE_STEP(MD5_STEP, MD5_F, c, d, a, b, 2, 0x242070db, 17) \
  LANE_STEP(MD5_STEP, MD5_F, b, c, d, a, 3, 0xc1bdceee, 22) \
  LANE_STEP(MD5_STEP, MD5_F, a, b, c, d, 4, 0xf57c0faf, 7) \
  LANE_STEP(MD5_STEP, MD5_F, d, a, b, c, 5, 0x4787c62a, 12) \
  LANE_STEP(MD5_STEP, MD5_F, c, d, a, b, 6, 0xa8304613, 17) \
  LANE_STEP(MD5_STEP, MD5_F, b, c, d, a, 7, 0xfd469501, 22) \
  LANE_STEP(MD5_STEP, MD5_F, a, b, c, d, 8, 0x698098d8, 7) \
  LANE_STEP(MD5_STEP, MD5_F, d, a, b, c, 9, 0x8b44f7af, 12) \
  LANE_STEP(MD5_STEP, MD5_F, c, d, a, b, 10, 0xffff5bb1, 17) \
  LANE_STEP(MD5_STEP, MD5_F, b, c, d, a, 11, 0x895cd7be, 22) \
  LANE_STEP(MD5_STEP, MD5_F, a, b, c, d, 12, 0x6b901122, 7) \
  LANE_STEP(MD5_STEP, MD5_F, d, a, b, c, 13, 0xfd987193, 12) \
  LANE_STEP(MD5_STEP, MD5_F, c, d, a, b, 14, 0xa679438e, 17) \
  LANE_STEP(MD5_STEP, MD5_F, b, c, d, a, 15, 0x49b40821, 22) \
  LANE_STEP(MD5_STEP_G_F, MD5_NONE, a, b, c, d, 1, 0xf61e2562, 5) \
  LANE_STEP(MD5_STEP_G_F, MD5_NONE, d, a, b, c, 6, 0xc040b340, 9) \
  LANE_STEP(MD5_STEP_G_F, MD5_NONE, c, d, a, b, 11, 0x265e5a51, 14) \
  LANE_STEP(MD5_STEP_G_F, MD5_NONE, b, c, d, a, 0, 0xe9b6c7aa, 20) \
  LANE_STEP(MD5_STEP_G_F, MD5_NONE, a, b, c, d, 5, 0xd62f105d, 5) \
  LANE_STEP(MD5_STEP_G_F, MD5_NONE, d, a, b, c, 10, 0x02441453, 9) \
  LANE_STEP(MD5_STEP_G_F, MD5_NONE, c, d, a, b, 15, 0xd8a1e681, 14) \
  LANE_STEP(MD5_STEP_G_F, MD5_NONE, b, c, d, a, 4, 0xe7d3fbc8, 20) \
  LANE_STEP(MD5_STEP_G_F, MD5_NONE, a, b, c, d, 9, 0x21e1cde6, 5) \
  LANE_STEP(MD5_STEP_G_F, MD5_NONE, d, a, b, c, 14, 0xc33707d6, 9) \
  LANE_STEP(MD5_STEP_G_F, MD5_NONE, c, d, a, b, 3, 0xf4d50d87, 14) \
  LANE_STEP(MD5_STEP_G_F, MD5_NONE, b, c, d, a, 8, 0x455a14ed, 20) \
  LANE_STEP(MD5_STEP_G_F, MD5_NONE, a, b, c, d, 13, 0xa9e3e905, 5) \
  LANE_STEP(MD5_STEP_G_F, MD5_NONE, d, a, b, c, 2, 0xfcefa3f8, 9) \
  LANE_STEP(MD5_STEP_G_F, MD5_NONE, c, d, a, b, 7, 0x676f02d9, 14) \
  LANE_STEP(MD5_STEP_G_F, MD5_NONE, b, c, d, a, 12, 0x8d2a4c8a, 20) \
  LANE_STEP(MD5_STEP, MD5_H, a, b, c, d, 5, 0xfffa3942, 4) \
  LANE_STEP(MD5_STEP, MD5_H, d, a, b, c, 8, 0x8771f681, 11) \
  LANE_STEP(MD5_STEP, MD5_H, c, d, a, b, 11, 0x6d9d6122, 16) \
  LANE_STEP(MD5_STEP, MD5_H, b, c, d, a, 14, 0xfde5380c, 23) \
  LANE_STEP(MD5_STEP, MD5_H, a, b, c, d, 1, 0xa4beea44, 4) \
  LANE_STEP(MD5_STEP, MD5_H, d, a, b, c, 4, 0x4bdecfa9, 11) \
  LANE_STEP(MD5_STEP, MD5_H, c, d, a, b, 7, 0xf6bb4b60, 16) \
  LANE_STEP(MD5_STEP, MD5_H, b, c, d, a, 10, 0xbebfbc70, 23) \
  LANE_STEP(MD5_STEP, MD5_H, a, b, c, d, 13, 0x289b7ec6, 4) \
  LANE_STEP(MD5_STEP, MD5_H, d, a, b, c, 0, 0xeaa127fa, 11) \
  LANE_STEP(MD5_STEP, MD5_H, c, d, a, b, 3, 0xd4ef3085, 16) \
  LANE_STEP(MD5_STEP, MD5_H, b, c, d, a, 6, 0x04881d05, 23) \
  LANE_STEP(MD5_STEP, MD5_H, a, b, c, d, 9, 0xd9d4d039, 4) \
  LANE_STEP(MD5_STEP, MD5_H, d, a, b, c, 12, 0xe6db99e5, 11) \
  LANE_STEP(MD5_STEP, MD5_H, c, d, a, b, 15, 0x1fa27cf8, 16) \
  LANE_STEP(MD5_STEP, MD5_H, b, c, d, a, 2, 0xc4ac5665, 23) \
  LANE_STEP(MD5_STEP, MD5_I, a, b, c, d, 0, 0xf4292244, 6) \
  LANE_STEP(MD5_STEP, MD5_I, d, a, b, c, 7, 0x432aff97, 10) \
  LANE_STEP(MD5_STEP, MD5_I, c, d, a, b, 14, 0xab9423a7, 15) \
  LANE_STEP(MD5_STEP, MD5_I, b, c, d, a, 5, 0xfc93a039, 21) \
  LANE_STEP(MD5_STEP, MD5_I, a, b, c, d, 12, 0x655b59c3, 6) \
  LANE_STEP(MD5_STEP, MD5_I, d, a, b, c, 3, 0x8f0ccc92, 10) \
  LANE_STEP(MD5_STEP, MD5_I, c, d, a, b, 10, 0xffeff47d, 15) \
  LANE_STEP(MD5_STEP, MD5_I, b, c, d, a, 1, 0x85845dd1, 21) \
  LANE_STEP(MD5_STEP, MD5_I, a, b, c, d, 8, 0x6fa87e4f, 6) \
  LANE_STEP(MD5_STEP, MD5_I, d, a, b, c, 15, 0xfe2ce6e0, 10) \
  LANE_STEP(MD5_STEP, MD5_I, c, d, a, b, 6, 0xa3014314, 15) \
  LANE_STEP(MD5_STEP, MD5_I, b, c, d, a, 13, 0x4e0811a1, 21) \
  LANE_STEP(MD5_STEP, MD5_I, a, b, c, d, 4, 0xf7537e82, 6) \
  LANE_STEP(MD5_STEP, MD5_I, d, a, b, c, 11, 0xbd3af235, 10) \
  LANE_STEP(MD5_STEP, MD5_I, c, d, a, b, 2, 0x2ad7d2bb, 15) \
  LANE_STEP(MD5_STEP, MD5_I, b, c, d, a, 9, 0xeb86d391, 21)

// One lane: the words of x, the chaining values a..d.
#define MD5_ONE(step, f, a, b, c, d, i, t, s) step(f, a, b, c, d, x[i], t, s)
// Two lanes, each step of the second lane beside the same step of the first:
// the two chains do not depend on each other, so the second one's work fits
// in the first one's waits on b.
#define MD5_TWO(step, f, a, b, c, d, i, t, s) \
  step(f, a, b, c, d, x[i], t, s)             \
  step(f, a##2, b##2, c##2, d##2, y[i], t, s)

void compress(uint32_t state[4], const uint8_t* block) {
  uint32_t x[16];
  for (int i = 0; i < 16; ++i) x[i] = bytes::load_u32le(block + 4 * i);
  uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
  MD5_ROUNDS(MD5_ONE)
  state[0] += a;
  state[1] += b;
  state[2] += c;
  state[3] += d;
}

void compress_two(uint32_t state[4], const uint8_t* block, uint32_t state2[4],
                  const uint8_t* block2) {
  uint32_t x[16], y[16];
  for (int i = 0; i < 16; ++i) x[i] = bytes::load_u32le(block + 4 * i);
  for (int i = 0; i < 16; ++i) y[i] = bytes::load_u32le(block2 + 4 * i);
  uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
  uint32_t a2 = state2[0], b2 = state2[1], c2 = state2[2], d2 = state2[3];
  MD5_ROUNDS(MD5_TWO)
  state[0] += a;
  state[1] += b;
  state[2] += c;
  state[3] += d;
  state2[0] += a2;
  state2[1] += b2;
  state2[2] += c2;
  state2[3] += d2;
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

namespace {

// Counts length more bytes; returns how many bytes of a block were staged.
uint32_t count_bytes(md5_context& ctx, uint32_t length) {
  const uint32_t index = (ctx.count[0] >> 3) & 63u;
  const uint32_t low = ctx.count[0] + (length << 3);
  if (low < ctx.count[0]) ctx.count[1] += 1;
  ctx.count[1] += length >> 29;
  ctx.count[0] = low;
  return index;
}

// Completes the staged block from in, or stages all of in when it falls
// short; returns the bytes taken.
uint32_t top_up(md5_context& ctx, uint32_t index, const uint8_t* in, uint32_t length) {
  if (index == 0) return 0;
  const uint32_t room = 64 - index;
  if (length < room) {
    std::memcpy(ctx.buffer + index, in, length);
    return length;
  }
  std::memcpy(ctx.buffer + index, in, room);
  compress(ctx.state, ctx.buffer);
  return room;
}

}  // namespace

void md5_update(md5_context& ctx, const void* data, uint32_t length) {
  if (length == 0) return;
  const uint8_t* in = static_cast<const uint8_t*>(data);
  const uint32_t taken = top_up(ctx, count_bytes(ctx, length), in, length);
  in += taken;
  length -= taken;
  while (length >= 64) {
    compress(ctx.state, in);
    in += 64;
    length -= 64;
  }
  if (length) std::memcpy(ctx.buffer, in, length);
}

void md5_update_two(md5_context& first, md5_context& second, const void* data, uint32_t length) {
  if (length == 0) return;
  const uint8_t* in = static_cast<const uint8_t*>(data);
  const uint32_t index1 = count_bytes(first, length), index2 = count_bytes(second, length);
  const uint32_t taken1 = top_up(first, index1, in, length);
  const uint32_t taken2 = top_up(second, index2, in, length);
  const uint8_t* in1 = in + taken1;
  const uint8_t* in2 = in + taken2;
  uint32_t left1 = length - taken1, left2 = length - taken2;
  for (; left1 >= 64 && left2 >= 64; left1 -= 64, left2 -= 64, in1 += 64, in2 += 64)
    compress_two(first.state, in1, second.state, in2);
  for (; left1 >= 64; left1 -= 64, in1 += 64) compress(first.state, in1);
  for (; left2 >= 64; left2 -= 64, in2 += 64) compress(second.state, in2);
  if (left1) std::memcpy(first.buffer, in1, left1);
  if (left2) std::memcpy(second.buffer, in2, left2);
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
