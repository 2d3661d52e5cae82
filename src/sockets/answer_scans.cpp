// Answer scans.  The ranked list is asked only when a "1" is found, and at
// most once per answer.
#include "sockets/answer_scans.h"

#include <cstring>

#include "ranked/ranked_store.h"
#include "sockets/nul_search.h"

namespace sockets {
namespace {

constexpr int plain_value_nuls = 13;  // NULs before the seventh value's text
constexpr char split_marker[] = "splitnum";  // compared with its NUL
constexpr char ranked_key[] = "bf2_ranked";  // sizeof counts its NUL: the value follows

// NUL bytes in n bytes, sixteen at a time: each lane of the vector counts the
// NULs at its place (the compare gives -1 for a NUL), for no more rounds than
// a lane can count, and the lanes are then added up in two halves.
// The vector type is the compilers' portable one: one SSE2 register where the
// build has it, plain words where it does not.
typedef uint8_t lanes16 __attribute__((vector_size(16)));

size_t add_lanes(lanes16 counts) {
  uint64_t half[2];
  std::memcpy(half, &counts, sizeof half);
  size_t total = 0;
  for (uint64_t x : half) {
    x = (x & 0x00FF00FF00FF00FFull) + ((x >> 8) & 0x00FF00FF00FF00FFull);
    total += static_cast<size_t>((x * 0x0001000100010001ull) >> 48);
  }
  return total;
}

// Kept out of line: the scans call it rarely, and settle() stays small
// enough to sit in the sampling loop.
__attribute__((noinline)) size_t count_nuls(const uint8_t* p, size_t n) {
  constexpr size_t lane_rounds = 255;
  size_t count = 0;
  size_t i = 0;
  while (n - i >= 16) {
    const size_t rounds = (n - i) / 16 < lane_rounds ? (n - i) / 16 : lane_rounds;
    lanes16 counts = {};
    for (size_t r = 0; r < rounds; ++r, i += 16) {
      lanes16 v;
      std::memcpy(&v, p + i, 16);
      counts -= reinterpret_cast<lanes16>(v == 0);
    }
    count += add_lanes(counts);
  }
  for (; i < n; ++i) count += p[i] == 0;
  return count;
}

uint64_t load_word(const uint8_t* p) {
  uint64_t w;
  std::memcpy(&w, p, 8);
  return w;
}

bool ranked(const answer_sender& sender) { return ranked::ranked_lookup(sender.address, sender.port); }

}  // namespace

// Only the seventh value's last byte can be a "1" directly before a NUL while
// exactly 13 NULs lie behind: that NUL is the fourteenth, and a "1" before it
// means the value is not empty.  Past that NUL nothing can change, so the
// walk stops there.
void plain_scan(uint8_t* data, size_t size, const answer_sender& sender) {
  const size_t last = nth_nul(data, qa_texts, size, plain_value_nuls + 1);
  if (last == size || data[last - 1] != '1') return;
  if (!ranked(sender)) data[last - 1] = '0';
}

// The first key "bf2_ranked" whose value is exactly "1" is the first place
// where the bytes "bf2_ranked\0" "1\0" start a text in key position (an
// even number of NULs since offset 16).
//
// The pair is found by a skip search that looks at one byte in twelve: any
// placement of the 13-byte pair covers a sampled offset among its first
// twelve bytes, which are twelve different bytes (the pair's second NUL is
// its thirteenth), so the sampled byte names the one pair index it would
// have to be, and each sample has one place to check with one 8-byte
// compare.  The work per sample is the same whatever the answer holds; only a
// true copy of the pair costs more (the NUL count up to it, at most once per
// byte overall).  Samples run in order and each one's place lies past the
// previous one's, and true copies cannot overlap, so copies are met first to
// last.
namespace {

constexpr char pair[] = "bf2_ranked\0" "1";  // and its own NUL
constexpr size_t pair_size = sizeof pair;    // 13 bytes
constexpr size_t sample_stride = pair_size - 1;
constexpr size_t pair_tail = 5;              // the compared word: its last 8 bytes

// For each byte value, where the compared word of its place starts, counted
// from the sample: the pair's tail offset less the byte's index among the
// pair's first twelve bytes.  A byte the pair does not hold counts as index 0,
// whose compare then fails.  Signed, so that a sample costs three loads (its
// byte, this entry, the word) and a compare, with no arithmetic between them.
struct tail_table {
  int8_t from_sample[256];
};
constexpr tail_table make_tails() {
  tail_table t{};
  for (size_t c = 0; c < 256; ++c) t.from_sample[c] = static_cast<int8_t>(pair_tail);
  for (size_t i = 0; i < sample_stride; ++i)
    t.from_sample[static_cast<uint8_t>(pair[i])] = static_cast<int8_t>(pair_tail - i);
  return t;
}
constexpr tail_table tails = make_tails();
static_assert(tails.from_sample[0] == -5 && tails.from_sample[static_cast<uint8_t>('1')] == -6);
static_assert(tails.from_sample[static_cast<uint8_t>('b')] == 5 &&
              tails.from_sample[static_cast<uint8_t>('d')] == -4 &&
              tails.from_sample[static_cast<uint8_t>('x')] == 5);

// The place a sample names (its index among the pair's bytes behind it).
size_t place_of(size_t q, int8_t tail_from_sample) {
  return q + static_cast<size_t>(static_cast<ptrdiff_t>(tail_from_sample)) - pair_tail;
}

// NULs before counted_to (from offset 16), which lies at or before the next
// place to settle.
struct split_state {
  size_t nuls = 0;
  size_t counted_to = qa_split_texts;
};

// A place whose last 8 bytes matched: true when the scan is done with the
// answer (the first key-position copy was found and settled).  A copy holds
// two NULs, so counting resumes behind it: copies back to back cost no count.
inline __attribute__((always_inline)) bool settle(uint8_t* data, size_t at, split_state& st,
                                                  const answer_sender& sender) {
  const auto* want = reinterpret_cast<const uint8_t*>(pair);
  if (load_word(data + at) != load_word(want) ||
      load_word(data + at + pair_tail) != load_word(want + pair_tail))
    return false;
  if (at != st.counted_to) st.nuls += count_nuls(data + st.counted_to, at - st.counted_to);
  const bool starts_text = at == qa_split_texts || data[at - 1] == 0;
  if (starts_text && st.nuls % 2 == 0) {
    if (!ranked(sender)) data[at + sizeof ranked_key] = '0';
    return true;
  }
  st.nuls += 2;
  st.counted_to = at + pair_size;
  return false;
}

}  // namespace

void split_scan(uint8_t* data, size_t size, const answer_sender& sender) {
  const uint64_t tail = load_word(reinterpret_cast<const uint8_t*>(pair) + pair_tail);
  split_state st;
  size_t q = qa_split_texts + sample_stride - 1;  // the first sample
  // Samples whose place lies inside the answer whatever the byte, four at a
  // time: the four are independent, and the loop's own count and test come
  // once for them.  Places are settled in sample order.
  constexpr size_t group = 4 * sample_stride;
  for (; q + group - sample_stride + pair_size <= size; q += group) {
    const uint8_t* s = data + q;
    const int8_t t[4] = {tails.from_sample[s[0]], tails.from_sample[s[sample_stride]],
                         tails.from_sample[s[2 * sample_stride]],
                         tails.from_sample[s[3 * sample_stride]]};
    const bool hit[4] = {load_word(s + t[0]) == tail,
                         load_word(s + sample_stride + t[1]) == tail,
                         load_word(s + 2 * sample_stride + t[2]) == tail,
                         load_word(s + 3 * sample_stride + t[3]) == tail};
    if (!(hit[0] || hit[1] || hit[2] || hit[3])) continue;
    // A hit (rare but for true copies of the pair): settled in order.
    for (size_t k = 0; k < 4; ++k)
      if (hit[k] && settle(data, place_of(q + k * sample_stride, t[k]), st, sender)) return;
  }
  for (; q + pair_size <= size; q += sample_stride) {
    const int8_t t = tails.from_sample[data[q]];
    if (load_word(data + q + t) == tail && settle(data, place_of(q, t), st, sender)) return;
  }
  // The last sample, if any (the next one's place would end past the
  // answer): only a place that ends inside it.
  if (q < size) {
    const size_t at = place_of(q, tails.from_sample[data[q]]);
    if (at + pair_size <= size) settle(data, at, st, sender);
  }
}

void correct_answer(uint8_t* data, size_t size, const answer_sender& sender) {
  if (size < answer_min_size || data[0] != 0) return;
  if (std::memcmp(data + qa_split_marker, split_marker, sizeof split_marker) == 0) {
    if (data[qa_split_part] == 0) split_scan(data, size, sender);
    return;
  }
  plain_scan(data, size, sender);
}

}  // namespace sockets
