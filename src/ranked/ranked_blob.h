// The ranked-list blob the statistics service signs and enciphers, its list
// cipher and its entry records, and the 8-byte entries of the ranked table.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "base/bytes.h"

namespace ranked {

// Blob offsets ("rlb_" = ranked-list blob); the body from rlb_body on is
// enciphered, the offsets behind it count from the blob's start.
inline constexpr size_t rlb_version = 0;
inline constexpr size_t rlb_nonce = 1;
inline constexpr size_t rlb_signature = 17;
inline constexpr size_t rlb_body = 33;
inline constexpr size_t rlb_serial = 33;
inline constexpr size_t rlb_default_port = 41;
inline constexpr size_t rlb_records = 43;
inline constexpr uint8_t ranked_blob_version = 1;
inline constexpr size_t ranked_nonce_size = 16;
inline constexpr size_t ranked_blob_min_size = rlb_records;
inline constexpr size_t ranked_blob_max_size = 64000;

// Entry record flag bits: 0x80 takes the default port (no port field), the
// low six bits are the entry's flags, 0x40 means nothing.
inline constexpr uint8_t record_default_port = 0x80;
inline constexpr uint8_t record_flags_mask = 0x3F;

// Table entry offsets ("rle_" = ranked-list entry): compared as 8 raw bytes.
inline constexpr size_t rle_address = 0;  // network byte order
inline constexpr size_t rle_port = 4;     // network byte order
inline constexpr size_t rle_flags = 6;    // 16-bit, low byte first
inline constexpr size_t ranked_entry_size = 8;
inline constexpr size_t ranked_max_entries = 8000;
inline constexpr size_t ranked_table_size = ranked_max_entries * ranked_entry_size;
inline constexpr uint16_t ranked_flag = 1;  // the only flags value a lookup matches

// The list cipher in its deciphering direction, resumable piece by piece.
struct list_cipher {
  uint8_t key[16];
  uint8_t feedback[16];
  size_t position;
};
// Key from the nonce (keyed MD5 from the key chaining value), feedback from
// the deployment's initial block.
void list_cipher_start(list_cipher& cipher, const uint8_t* nonce);
// Deciphers n bytes; out may be in.
void list_cipher_run(list_cipher& cipher, const uint8_t* in, uint8_t* out, size_t n);

// 0 when the blob of m bytes is valid (version, length, signature over the
// nonce and the deciphered body); the blob is left unchanged.
int verify_ranked_blob(const uint8_t* blob, size_t m);

// Deciphers a verified blob's body in place and writes its entries (at most
// 8000) into table, sorted in table order.  Returns the number of entries.
size_t build_ranked_table(uint8_t* blob, size_t m, uint8_t* table);

// The entry a lookup searches for: (address, port) in network byte order and
// flags 1.  Inline: every answer a client receives builds one, and the
// lookup reads it back at once as two words, which the compiler then takes
// from registers instead of from stores it would have to wait on.
inline void ranked_key(uint32_t address, uint16_t port, uint8_t out[ranked_entry_size]) {
  std::memcpy(out + rle_address, &address, 4);
  std::memcpy(out + rle_port, &port, 2);
  bytes::store_u16le(out + rle_flags, ranked_flag);
}

}  // namespace ranked
