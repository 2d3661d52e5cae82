// Answer scans.  The ranked list is asked only when a "1" is found, and at
// most once per answer.
#include "sockets/answer_scans.h"

#include <cstring>

#include "ranked/ranked_store.h"

namespace sockets {
namespace {

constexpr int plain_value_nuls = 13;  // NULs before the seventh value's text
constexpr char split_marker[] = "splitnum";  // compared with its NUL
constexpr char ranked_key[] = "bf2_ranked";

bool ranked(const answer_sender& sender) { return ranked::ranked_lookup(sender.address, sender.port); }

}  // namespace

void plain_scan(uint8_t* data, size_t size, const answer_sender& sender) {
  int nuls = 0;
  int listed = -1;  // not asked yet
  for (size_t i = qa_texts; i < size; ++i) {
    if (data[i] == 0) {
      ++nuls;
      continue;
    }
    if (nuls != plain_value_nuls || data[i] != '1' || i + 1 >= size || data[i + 1] != 0) continue;
    if (listed < 0) listed = ranked(sender) ? 1 : 0;
    if (!listed) data[i] = '0';
  }
}

void split_scan(uint8_t* data, size_t size, const answer_sender& sender) {
  size_t at = qa_split_texts;
  const uint8_t* key = nullptr;
  size_t key_length = 0;
  bool is_value = false;
  while (at < size) {
    const void* end = std::memchr(data + at, 0, size - at);
    if (!end) return;  // a text without its NUL is not a whole text
    const size_t length = static_cast<size_t>(static_cast<const uint8_t*>(end) - (data + at));
    if (!is_value) {
      key = data + at;
      key_length = length;
    } else if (length == 1 && data[at] == '1' && key_length == sizeof ranked_key - 1 &&
               std::memcmp(key, ranked_key, key_length) == 0) {
      if (!ranked(sender)) data[at] = '0';
      return;
    }
    is_value = !is_value;
    at += length + 1;
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
