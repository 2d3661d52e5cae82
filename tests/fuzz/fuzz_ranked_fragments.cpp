// Arbitrary bytes as a sequence of datagrams for the list transfer: each
// datagram is one length byte and that many bytes (up to the input's end),
// with "HMR1" and the session id of the fuzzed session laid over its head
// when its first byte is odd, so that the fragment path is reached.
#include <cstdint>
#include <cstring>
#include <vector>

#include "base/bytes.h"
#include "lookup_signing.h"
#include "ranked/ranked_blob.h"
#include "ranked/refresh_fragments.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static std::vector<uint8_t> blob(ranked::ranked_blob_max_size);
  ranked::fragment_state state;
  state.session = 0x12345679;
  size_t at = 0;
  while (at < size) {
    const size_t n = data[at++] * 8u;
    std::vector<uint8_t> d(data + at, data + (size - at < n ? size : at + n));
    at += d.size();
    if (d.size() >= 8 && (d[0] & 1)) {
      std::memcpy(d.data(), "HMR1", 4);
      bytes::store_u32le(d.data() + 4, state.session);
    }
    const ranked::fragment_result r = ranked::take_fragment(state, d.data(), d.size(), blob.data());
    fuzz_support::check(state.blob_length <= ranked::ranked_blob_max_size);
    fuzz_support::check((state.received & ~state.expected) == 0);
    if (r == ranked::fragment_result::failed || r == ranked::fragment_result::complete) break;
  }
  return 0;
}
