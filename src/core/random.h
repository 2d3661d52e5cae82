// Pseudo-random bytes for request ids, nonces and challenges.
#pragma once
#include <cstddef>
#include <cstdint>

namespace core {

// Seeds the calling thread's generator from the time and operating-system entropy.
void seed_random();
// Fills count bytes (never a zero byte) and returns buffer.
uint8_t* random_bytes(uint8_t* buffer, size_t count);
// One draw, 0 to 32767, from the calling thread's generator.
int random_draw();

}  // namespace core
