// MD5 (RFC 1321), resumable from a stored chaining value for keyed digests, and
// the lower-case hexadecimal form of a finished digest.
#pragma once
#include <cstddef>
#include <cstdint>

namespace digest {

struct md5_context {
  uint32_t count[2];  // message bits so far, low word first
  uint32_t state[4];  // chaining values A, B, C, D
  uint8_t buffer[64];
  uint8_t digest[16];
};

inline constexpr size_t md5_size = 16;
inline constexpr size_t md5_hex_size = 33;  // 32 digits and a NUL

void md5_start(md5_context& ctx);
// Resumes a digest whose first 64-byte block (a secret prefix) produced `chain`.
void md5_start_chained(md5_context& ctx, const uint32_t chain[4]);
void md5_update(md5_context& ctx, const void* data, uint32_t length);
// The same bytes into two digests at once, whatever either has absorbed
// before: the result is that of md5_update on each, and the second costs
// little more than the first (their steps interleave).
void md5_update_two(md5_context& first, md5_context& second, const void* data, uint32_t length);
void md5_update_text(md5_context& ctx, const char* text);
void md5_final(md5_context& ctx);
// Writes the digest field as 32 lower-case hex digits and a NUL into out[33].
void md5_hex(const md5_context& ctx, char* out);

// Hex form of any byte run: 2 * length digits and a NUL (out holds 2 * length + 1).
void hex_encode(const uint8_t* data, size_t length, char* out);

// One-shot helper: MD5 of a byte run into out[16].
void md5_of(const void* data, uint32_t length, uint8_t* out);

}  // namespace digest
