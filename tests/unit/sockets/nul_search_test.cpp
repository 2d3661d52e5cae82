// The n-th NUL of an answer, both ways (sixteen bytes at a time and a machine
// word at a time), against a byte walk: over NUL patterns placed at every
// offset and in every block position, long texts that skip whole blocks,
// counts that run out, and starts and ends that are not block-aligned.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "sockets/nul_search.h"

namespace {

size_t walk(const std::vector<uint8_t>& d, size_t at, size_t size, int n) {
  if (n < 1) return size;
  for (size_t i = at; i < size; ++i)
    if (d[i] == 0 && --n == 0) return i;
  return size;
}

void expect_both_ways(const std::vector<uint8_t>& d, size_t at, size_t size, int n) {
  const size_t want = walk(d, at, size, n);
  EXPECT_EQ(sockets::nth_nul_words(d.data(), at, size, n), want) << at << " " << size << " " << n;
  EXPECT_EQ(sockets::nth_nul_vectors(d.data(), at, size, n), want) << at << " " << size << " " << n;
  EXPECT_EQ(sockets::nth_nul(d.data(), at, size, n), want);
}

TEST(NulSearch, BothWaysAgreeWithAByteWalk) {
#if defined(__x86_64__)
  EXPECT_TRUE(sockets::nul_vectors_available());
#endif
  std::mt19937 random(7);
  struct pattern {
    const char* name;
    int nul_per_mille;
  };
  for (const pattern p : {pattern{"no NULs", 0}, {"a few", 20}, {"texts", 120}, {"half", 500},
                          {"all NULs", 1000}}) {
    SCOPED_TRACE(p.name);
    for (size_t size : {0u, 1u, 15u, 16u, 17u, 63u, 64u, 65u, 130u, 300u, 1472u}) {
      std::vector<uint8_t> d(size);
      for (auto& b : d) {
        const bool nul = static_cast<int>(random() % 1000) < p.nul_per_mille;
        b = nul ? 0 : static_cast<uint8_t>(1 + random() % 255);
      }
      for (size_t at : {size_t{0}, size_t{1}, size_t{5}, size_t{16}, size / 2, size})
        for (int n : {0, 1, 2, 13, 14, 15, 40, 2000}) expect_both_ways(d, at, size, n);
    }
  }
}

TEST(NulSearch, ALongTextIsPassedOverToTheNulsBehindIt) {
  // One NUL at every place behind a long run without one: the four-block
  // skip must stop at the block that holds it, wherever in the block it is.
  for (size_t place = 0; place < 200; ++place) {
    std::vector<uint8_t> d(260, 'a');
    d[place] = 0;
    d[259] = 0;
    expect_both_ways(d, 0, d.size(), 1);
    expect_both_ways(d, 3, d.size(), 2);
    // The search ends at size, not at the buffer's end.
    expect_both_ways(d, 0, place, 1);
  }
}

}  // namespace
