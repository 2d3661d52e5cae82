// The chain cipher: byte-wise exclusive-or with a 16-byte key, each output byte
// also mixed with the previous output byte (the starting byte before the first).
// Snapshot bodies, session datagrams and the authorization challenge use it.
#pragma once
#include <cstddef>
#include <cstdint>

namespace snapshot {

inline constexpr size_t chain_key_size = 16;

// In place: out[i] = in[i] ^ key[i % 16] ^ out[i - 1], out[-1] = start.
void chain_encipher(uint8_t* data, size_t length, const uint8_t key[chain_key_size],
                    uint8_t start);
// The inverse, in place: plain[i] = cipher[i] ^ key[i % 16] ^ cipher[i - 1].
void chain_decipher(uint8_t* data, size_t length, const uint8_t key[chain_key_size],
                    uint8_t start);

}  // namespace snapshot
