// Pseudo-random bytes for request ids, nonces and challenges.
#pragma once
#include <cstddef>
#include <cstdint>

namespace core {

// Seeds the calling thread's generator from the time and operating-system entropy.
void seed_random();
// Fills count bytes and returns buffer.  A byte whose first draw is 0 becomes
// 1; any other byte is the low eight bits of a second draw, which may be 0, so
// callers treat the bytes as binary data, never as a string.
uint8_t* random_bytes(uint8_t* buffer, size_t count);
// One draw, 0 to 32767, from the calling thread's generator.
int random_draw();

}  // namespace core
