// Random bytes: exact fills, every byte value, fresh values per call, and a
// generator per thread seeded on its own (a thread left on the default seed
// repeats itself every run).
#include <gtest/gtest.h>

#include <array>
#include <thread>

#include "core/random.h"

namespace {

using block = std::array<uint8_t, 16>;

TEST(Random, FillsExactlyTheBytesAskedFor) {
  std::array<uint8_t, 48> buffer;
  buffer.fill(0xEE);
  EXPECT_EQ(core::random_bytes(buffer.data() + 8, 0), buffer.data() + 8);
  EXPECT_EQ(core::random_bytes(buffer.data() + 8, 32), buffer.data() + 8);
  for (size_t i : {0, 7, 40, 47}) EXPECT_EQ(buffer[i], 0xEE) << i;
}

// Every byte value turns up, zero included: the second draw's low eight bits
// are used as they come.
TEST(Random, BytesCoverEveryValue) {
  std::array<uint8_t, 1 << 16> buffer{};
  core::random_bytes(buffer.data(), buffer.size());
  std::array<int, 256> seen{};
  for (uint8_t b : buffer) seen[b] = 1;
  for (int v = 0; v < 256; ++v) EXPECT_EQ(seen[v], 1) << v;
}

TEST(Random, CallsAndThreadsDrawDifferentBytes) {
  block a{}, b{};
  core::random_bytes(a.data(), a.size());
  core::random_bytes(b.data(), b.size());
  EXPECT_NE(a, b);

  block first{}, second{};
  std::thread t1([&] { core::random_bytes(first.data(), first.size()); });
  std::thread t2([&] { core::random_bytes(second.data(), second.size()); });
  t1.join();
  t2.join();
  EXPECT_NE(first, second);
}

}  // namespace
