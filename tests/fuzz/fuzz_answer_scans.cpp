// Arbitrary bytes as a server query answer through both scans, compared with
// the scans written the plain way: a byte walk that counts NULs (plain) and
// one that splits every text into key and value (split).  The library's scans
// hop and skip instead; they must change exactly the same bytes.
//
// Input: a list byte, a port byte, then the answer.  When the list byte is
// odd, a sealed list holding the sender (127.0.0.1 and that port) with the
// flags in the list byte's next six bits is installed first, so a listed
// sender (flags 1) and a listed one with other flags are reached as well as
// an unlisted one; otherwise the list is empty.
#include <cstdint>
#include <cstring>
#include <vector>

#include "lookup_signing.h"
#include "ranked_sealing.h"
#include "ranked/ranked_blob.h"
#include "ranked/ranked_store.h"
#include "sockets/answer_scans.h"
#include "sockets/nul_search.h"

namespace {

void walk_plain(std::vector<uint8_t>& d, bool ranked) {
  int nuls = 0;
  for (size_t i = 5; i < d.size(); ++i) {
    if (d[i] == 0) {
      ++nuls;
      continue;
    }
    if (nuls == 13 && d[i] == '1' && i + 1 < d.size() && d[i + 1] == 0 && !ranked) d[i] = '0';
  }
}

void walk_split(std::vector<uint8_t>& d, bool ranked) {
  size_t at = 16;
  std::vector<uint8_t> key;
  bool value = false;
  while (at < d.size()) {
    size_t end = at;
    while (end < d.size() && d[end] != 0) ++end;
    if (end == d.size()) return;
    if (!value) {
      key.assign(d.begin() + static_cast<long>(at), d.begin() + static_cast<long>(end));
    } else if (end - at == 1 && d[at] == '1' && !ranked && key.size() == 10 &&
               std::memcmp(key.data(), "bf2_ranked", 10) == 0) {
      d[at] = '0';
      return;
    }
    value = !value;
    at = end + 1;
  }
}

// The list of one record: 127.0.0.1 with the given port bytes (network order)
// and flags.
void install_list(uint8_t flags, const uint8_t port[2]) {
  std::vector<uint8_t> plain(16, 0x5A);                  // the nonce
  const uint8_t head[10] = {1, 0, 0, 0, 0, 0, 0, 0, 0x6C, 0x74};  // serial, default port
  plain.insert(plain.end(), head, head + sizeof head);
  const uint8_t record[7] = {flags, 127, 0, 0, 1, port[1], port[0]};  // own port, low byte first
  plain.insert(plain.end(), record, record + sizeof record);
  const std::vector<uint8_t> blob = fuzz_support::seal(plain.data(), plain.size());
  fuzz_support::check(ranked::install_ranked_blob(blob.data(), blob.size()) == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool ready = ranked::arena_allocate() == 0;
  fuzz_support::check(ready);
  if (size < 2) return 0;
  const uint8_t port[2] = {data[1], static_cast<uint8_t>(data[1] ^ 0x40)};
  // The list changes only when the input asks for another one: sealing and
  // installing on every run would cost most of the run.
  static int installed = -1;  // list byte and port byte; -1: the empty list
  const int wanted = data[0] & 1 ? (data[0] & 0x7F) << 8 | data[1] : -1;
  if (wanted != installed) {
    if (wanted < 0)
      ranked::ranked_reset();
    else
      install_list(static_cast<uint8_t>((data[0] >> 1) & 0x3F), port);
    installed = wanted;
  }
  uint16_t port_field;
  std::memcpy(&port_field, port, 2);
  const sockets::answer_sender sender{0x0100007F, port_field};
  const bool ranked = ranked::ranked_lookup(sender.address, sender.port);
  fuzz_support::check(ranked == ((data[0] & 0x7F) == 0x03));
  const std::vector<uint8_t> answer(data + 2, data + size);

  std::vector<uint8_t> got = answer, want = answer;
  sockets::plain_scan(got.data(), got.size(), sender);
  walk_plain(want, ranked);
  fuzz_support::check(got == want);

  got = want = answer;
  sockets::split_scan(got.data(), got.size(), sender);
  walk_split(want, ranked);
  fuzz_support::check(got == want);

  // The NUL search both ways, for a count the input chooses.
  const int n = 1 + data[1] % 24;
  size_t want_nul = answer.size();
  for (size_t i = 5, left = static_cast<size_t>(n); i < answer.size(); ++i)
    if (answer[i] == 0 && --left == 0) {
      want_nul = i;
      break;
    }
  if (answer.size() >= 5) {
    fuzz_support::check(sockets::nth_nul_words(answer.data(), 5, answer.size(), n) == want_nul);
    fuzz_support::check(sockets::nth_nul_vectors(answer.data(), 5, answer.size(), n) == want_nul);
  }

  got = answer;
  sockets::correct_answer(got.data(), got.size(), sender);
  for (size_t i = 0; i < got.size(); ++i)
    fuzz_support::check(got[i] == answer[i] || (answer[i] == '1' && got[i] == '0'));
  return 0;
}
