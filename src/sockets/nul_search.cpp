// NUL search.  The plain answer scan asks for the fourteenth NUL of a datagram
// on every answer a client receives, so this is on the receive path: it must
// cost a few nanoseconds next to a receive, on friendly and hostile bytes
// alike.
#include "sockets/nul_search.h"

#include <cstring>

#if defined(__i386__) || defined(__x86_64__)
#include <cpuid.h>
#include <emmintrin.h>
#define OSTREL_NUL_VECTORS 1
#else
#define OSTREL_NUL_VECTORS 0
#endif

namespace sockets {
namespace {

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "the word's first byte is its lowest");

uint64_t load_u64(const uint8_t* p) {
  uint64_t w;
  std::memcpy(&w, p, 8);
  return w;
}

// The offset of the first NUL at or after at, or size when there is none.
// Most texts of an answer are short: the first sixteen bytes are looked at
// eight at a time in place (the lowest flagged byte of a little-endian word
// is the first NUL), and only a longer text goes to memchr.
size_t next_nul(const uint8_t* data, size_t at, size_t size) {
  constexpr uint64_t low7 = 0x7F7F7F7F7F7F7F7Full;
  for (int step = 0; step < 2 && size - at >= 8; ++step, at += 8) {
    const uint64_t w = load_u64(data + at);
    const uint64_t nul_flags = ~(((w & low7) + low7) | w | low7);
    if (nul_flags) return at + static_cast<size_t>(__builtin_ctzll(nul_flags) >> 3);
  }
  const void* nul = at < size ? std::memchr(data + at, 0, size - at) : nullptr;
  return nul ? static_cast<size_t>(static_cast<const uint8_t*>(nul) - data) : size;
}

#if OSTREL_NUL_VECTORS
// Set bits in each byte value: the count of a 16-bit mask in two look-ups.
// (The population-count instruction is not SSE2's, and without it the
// compiler calls a library routine that costs more than the whole search.)
struct bit_counts {
  uint8_t of[256];
};
constexpr bit_counts make_bit_counts() {
  bit_counts t{};
  for (int i = 0; i < 256; ++i) t.of[i] = static_cast<uint8_t>((i & 1) + t.of[i / 2]);
  return t;
}
constexpr bit_counts bits = make_bit_counts();
static_assert(bits.of[0xFF] == 8 && bits.of[0x81] == 2);

bool processor_has_sse2() {
#if defined(__SSE2__)
  return true;
#else
  unsigned a = 0, b = 0, c = 0, d = 0;
  return __get_cpuid(1, &a, &b, &c, &d) != 0 && (d & bit_SSE2) != 0;
#endif
}
const bool vectors = processor_has_sse2();
#endif

}  // namespace

// The first 128 bytes (the texts before a plain answer's seventh value are
// short) a machine word at a time, counting each word's NULs: the words do
// not wait on each other, where hopping from NUL to NUL waits on every NUL
// found.  Further on, hops (and memchr for long texts) take over.
size_t nth_nul_words(const uint8_t* data, size_t at, size_t size, int n) {
  using machine_word = uintptr_t;
  constexpr size_t word_bytes = sizeof(machine_word);
  constexpr size_t counted_span = 128;
  constexpr machine_word ones = static_cast<machine_word>(0x0101010101010101ull);
  constexpr machine_word low7 = static_cast<machine_word>(0x7F7F7F7F7F7F7F7Full);
  if (n < 1 || at >= size) return size;
  const size_t counted_end = size - at > counted_span ? at + counted_span : size;
  for (; counted_end - at >= word_bytes; at += word_bytes) {
    machine_word w;
    std::memcpy(&w, data + at, word_bytes);
    machine_word nul_flags = ~(((w & low7) + low7) | w | low7);  // bit 7 of each NUL byte
    const int nuls = static_cast<int>(((nul_flags >> 7) * ones) >> (8 * (word_bytes - 1)));
    if (nuls < n) {
      n -= nuls;
      continue;
    }
    while (--n > 0) nul_flags &= nul_flags - 1;
    const int first_bit = __builtin_ctzll(static_cast<unsigned long long>(nul_flags));
    return at + static_cast<size_t>(first_bit >> 3);
  }
  for (;; --n) {
    if (at >= size) return size;
    const size_t nul = next_nul(data, at, size);
    if (nul == size || n == 1) return nul;
    at = nul + 1;
  }
}

#if OSTREL_NUL_VECTORS
namespace {
// The NULs of sixteen bytes as the bits of a mask, first byte lowest.
__attribute__((target("sse2"))) inline unsigned nul_mask(const uint8_t* p) {
  const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  return static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(block, _mm_setzero_si128())));
}
// Whether 64 bytes hold a NUL: four compares and one test.
__attribute__((target("sse2"))) inline bool nul_in_four(const uint8_t* p) {
  const __m128i zero = _mm_setzero_si128();
  const auto* blocks = reinterpret_cast<const __m128i*>(p);
  const __m128i a = _mm_cmpeq_epi8(_mm_loadu_si128(blocks), zero);
  const __m128i b = _mm_cmpeq_epi8(_mm_loadu_si128(blocks + 1), zero);
  const __m128i c = _mm_cmpeq_epi8(_mm_loadu_si128(blocks + 2), zero);
  const __m128i d = _mm_cmpeq_epi8(_mm_loadu_si128(blocks + 3), zero);
  return _mm_movemask_epi8(_mm_or_si128(_mm_or_si128(a, b), _mm_or_si128(c, d))) != 0;
}
}  // namespace

// Sixteen bytes a compare: the NUL mask of each block is counted, and the
// block holding the n-th NUL gives its place from its mask.  The same few
// instructions per block whatever the bytes are.
__attribute__((target("sse2"))) size_t nth_nul_vectors(const uint8_t* data, size_t at, size_t size,
                                                       int n) {
  if (!vectors) return nth_nul_words(data, at, size, n);
  if (n < 1 || at >= size) return size;
  while (size - at >= 16) {
    unsigned mask = nul_mask(data + at);
    at += 16;
    if (mask == 0) {
      // A long text (any server may send one) is passed over four blocks
      // at a time, with one test for the four.
      while (size - at >= 64 && !nul_in_four(data + at)) at += 64;
      continue;
    }
    const int nuls = bits.of[mask & 0xFF] + bits.of[mask >> 8];
    if (nuls < n) {
      n -= nuls;
      continue;
    }
    while (--n > 0) mask &= mask - 1;
    return at - 16 + static_cast<size_t>(__builtin_ctz(mask));
  }
  for (; at < size; ++at)
    if (data[at] == 0 && --n == 0) return at;
  return size;
}
bool nul_vectors_available() { return vectors; }
#else
size_t nth_nul_vectors(const uint8_t* data, size_t at, size_t size, int n) {
  return nth_nul_words(data, at, size, n);
}
bool nul_vectors_available() { return false; }
#endif

size_t nth_nul(const uint8_t* data, size_t at, size_t size, int n) {
#if OSTREL_NUL_VECTORS
  if (vectors) return nth_nul_vectors(data, at, size, n);
#endif
  return nth_nul_words(data, at, size, n);
}

}  // namespace sockets
