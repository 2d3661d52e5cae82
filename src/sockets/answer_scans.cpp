// Answer scans.  The ranked list is asked only when a "1" is found, and at
// most once per answer.
#include "sockets/answer_scans.h"

#include <cstring>

#include "ranked/ranked_store.h"

namespace sockets {
namespace {

constexpr int plain_value_nuls = 13;  // NULs before the seventh value's text
constexpr char split_marker[] = "splitnum";  // compared with its NUL
constexpr char ranked_key[] = "bf2_ranked";  // sizeof counts its NUL: the value follows

// NUL bytes in n bytes, eight at a time: a byte's high bit survives in t
// exactly when the byte is 0, and the multiply adds the eight flags up (no
// population count instruction in the baseline of either build).
size_t count_nuls(const uint8_t* p, size_t n) {
  constexpr uint64_t low7 = 0x7F7F7F7F7F7F7F7Full;
  size_t count = 0;
  size_t i = 0;
  for (; i + 8 <= n; i += 8) {
    uint64_t w;
    std::memcpy(&w, p + i, 8);
    const uint64_t t = ~(((w & low7) + low7) | w | low7);
    count += static_cast<size_t>((((t >> 7) & 0x0101010101010101ull) * 0x0101010101010101ull) >> 56);
  }
  for (; i < n; ++i) count += p[i] == 0;
  return count;
}

bool ranked(const answer_sender& sender) { return ranked::ranked_lookup(sender.address, sender.port); }

}  // namespace

// Only the seventh value's last byte can be a "1" directly before a NUL while
// exactly 13 NULs lie behind: the scan hops from NUL to NUL up to the
// fourteenth and looks at the byte before it.  Past that NUL nothing can
// change, so the walk stops there.
void plain_scan(uint8_t* data, size_t size, const answer_sender& sender) {
  size_t at = qa_texts;
  for (int nuls = 0; nuls < plain_value_nuls; ++nuls) {
    const void* nul = at < size ? std::memchr(data + at, 0, size - at) : nullptr;
    if (!nul) return;
    at = static_cast<size_t>(static_cast<const uint8_t*>(nul) - data) + 1;
  }
  const size_t value = at;
  const void* end = value < size ? std::memchr(data + value, 0, size - value) : nullptr;
  if (!end) return;
  const size_t last = static_cast<size_t>(static_cast<const uint8_t*>(end) - data);
  if (last == value || data[last - 1] != '1') return;
  if (!ranked(sender)) data[last - 1] = '0';
}

// The first key "bf2_ranked" whose value is exactly "1" is the first place
// where the bytes "bf2_ranked\0" "1\0" start a text in key position (an
// even number of NULs since offset 16).
void split_scan(uint8_t* data, size_t size, const answer_sender& sender) {
  static constexpr char pair[] = "bf2_ranked\0" "1";  // and its own NUL
  constexpr size_t pair_size = sizeof pair;          // 13 bytes
  size_t nuls = 0;
  size_t counted_to = qa_split_texts;
  size_t from = qa_split_texts;
  while (from < size && size - from >= pair_size) {
    const void* hit = std::memchr(data + from, pair[0], size - from - pair_size + 1);
    if (!hit) return;
    const size_t at = static_cast<size_t>(static_cast<const uint8_t*>(hit) - data);
    from = at + 1;
    if (std::memcmp(data + at, pair, pair_size) != 0) continue;
    nuls += count_nuls(data + counted_to, at - counted_to);
    counted_to = at;
    const bool starts_text = at == qa_split_texts || data[at - 1] == 0;
    if (starts_text && nuls % 2 == 0) {
      if (!ranked(sender)) data[at + sizeof ranked_key] = '0';
      return;
    }
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
