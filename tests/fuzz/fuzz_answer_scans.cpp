// Arbitrary bytes as a server query answer through both scans (the first
// byte picks a listed or unlisted sender).  Only "1" bytes may become "0",
// and the answer's length never changes.
#include <cstdint>
#include <cstring>
#include <vector>

#include "lookup_signing.h"
#include "ranked/ranked_store.h"
#include "sockets/answer_scans.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool ready = ranked::arena_allocate() == 0;
  fuzz_support::check(ready);
  if (size == 0) return 0;
  const sockets::answer_sender sender{0x0100007F, static_cast<uint16_t>(data[0])};
  std::vector<uint8_t> answer(data + 1, data + size);
  const std::vector<uint8_t> before = answer;
  sockets::correct_answer(answer.data(), answer.size(), sender);
  sockets::plain_scan(answer.data(), answer.size(), sender);
  sockets::split_scan(answer.data(), answer.size(), sender);
  for (size_t i = 0; i < answer.size(); ++i)
    fuzz_support::check(answer[i] == before[i] || (before[i] == '1' && answer[i] == '0'));
  return 0;
}
