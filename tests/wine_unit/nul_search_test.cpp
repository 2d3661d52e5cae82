// The 32-bit build's NUL search: it has no SSE2 by its compiler flags, so it
// asks the processor, and the sixteen-byte way must then agree with the word
// way and a byte walk, as it does natively.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "sockets/nul_search.h"

TEST(NulSearch32, TheProcessorIsAskedAndBothWaysAgree) {
  // Every processor that runs Wine's 32-bit side, or Windows 8 and later,
  // has SSE2.
  EXPECT_TRUE(sockets::nul_vectors_available());
  std::vector<uint8_t> d(1472, 'a');
  for (size_t i = 0; i < d.size(); i += 7 + i % 97) d[i] = 0;
  for (size_t at : {size_t{0}, size_t{5}, size_t{700}})
    for (int n : {1, 14, 40, 500}) {
      size_t want = d.size();
      for (size_t i = at, left = static_cast<size_t>(n); i < d.size(); ++i)
        if (d[i] == 0 && --left == 0) {
          want = i;
          break;
        }
      EXPECT_EQ(sockets::nth_nul_vectors(d.data(), at, d.size(), n), want) << at << " " << n;
      EXPECT_EQ(sockets::nth_nul_words(d.data(), at, d.size(), n), want) << at << " " << n;
    }
}
