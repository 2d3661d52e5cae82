// Arbitrary bytes as a server query answer through both scans (the first
// byte picks a listed or unlisted sender), compared with the scans written
// the plain way: a byte walk that counts NULs (plain) and one that splits
// every text into key and value (split).  The library's scans hop and search
// instead; they must change exactly the same bytes.
#include <cstdint>
#include <cstring>
#include <vector>

#include "lookup_signing.h"
#include "ranked/ranked_blob.h"
#include "ranked/ranked_store.h"
#include "sockets/answer_scans.h"

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

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool ready = ranked::arena_allocate() == 0;
  fuzz_support::check(ready);
  if (size == 0) return 0;
  // An empty list: nobody is ranked.  Port 0 is looked up to make the call.
  const sockets::answer_sender sender{0x0100007F, static_cast<uint16_t>(data[0])};
  const bool ranked = ranked::ranked_lookup(sender.address, sender.port);
  const std::vector<uint8_t> answer(data + 1, data + size);

  std::vector<uint8_t> got = answer, want = answer;
  sockets::plain_scan(got.data(), got.size(), sender);
  walk_plain(want, ranked);
  fuzz_support::check(got == want);

  got = want = answer;
  sockets::split_scan(got.data(), got.size(), sender);
  walk_split(want, ranked);
  fuzz_support::check(got == want);

  got = answer;
  sockets::correct_answer(got.data(), got.size(), sender);
  for (size_t i = 0; i < got.size(); ++i)
    fuzz_support::check(got[i] == answer[i] || (answer[i] == '1' && got[i] == '0'));
  return 0;
}
