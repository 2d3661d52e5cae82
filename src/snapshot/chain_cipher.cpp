// Chain cipher.  Deciphering must read each cipher byte before overwriting it,
// since the next byte depends on it.
#include "snapshot/chain_cipher.h"

namespace snapshot {

void chain_encipher(uint8_t* data, size_t length, const uint8_t key[chain_key_size],
                    uint8_t start) {
  uint8_t previous = start;
  for (size_t i = 0; i < length; ++i) {
    previous = static_cast<uint8_t>(data[i] ^ key[i % chain_key_size] ^ previous);
    data[i] = previous;
  }
}

void chain_decipher(uint8_t* data, size_t length, const uint8_t key[chain_key_size],
                    uint8_t start) {
  uint8_t previous = start;
  for (size_t i = 0; i < length; ++i) {
    const uint8_t cipher = data[i];
    data[i] = static_cast<uint8_t>(cipher ^ key[i % chain_key_size] ^ previous);
    previous = cipher;
  }
}

}  // namespace snapshot
