// Per-thread pseudo-random generator (the classic 15-bit linear congruential
// draw).  Every thread seeds its own generator on its first draw: a thread left
// on the fixed default seed would hand out the same request ids and nonces in
// every run.
#include "core/random.h"

#include "platform/platform.h"

namespace core {
namespace {
thread_local uint32_t generator_state = 1;
thread_local int generator_seeded = 0;
constexpr int scratch_words = 200;
}  // namespace

void seed_random() {
  uint32_t scratch[scratch_words];
  platform::entropy(scratch, sizeof scratch);
  uint32_t seed = platform::now_seconds();
  for (uint32_t w : scratch) seed = (seed ^ w) * 0x9e3779b1u + (seed >> 15);
  generator_state = seed;
  generator_seeded = 1;
}

int random_draw() {
  generator_state = generator_state * 214013u + 2531011u;
  return static_cast<int>((generator_state >> 16) & 0x7fff);
}

uint8_t* random_bytes(uint8_t* buffer, size_t count) {
  if (!generator_seeded) seed_random();
  for (size_t i = 0; i < count; ++i) {
    if (random_draw() == 0)
      buffer[i] = 1;
    else
      buffer[i] = static_cast<uint8_t>(random_draw() & 0xff);
  }
  return buffer;
}

}  // namespace core
