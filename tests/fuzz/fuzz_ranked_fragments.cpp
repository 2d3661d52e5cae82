// The list transfer's fragments, two ways.  Arbitrary bytes as a sequence of
// datagrams: each datagram is one length byte and that many bytes (up to the
// input's end), with "HMR1" and the session id of the fuzzed session laid
// over its head when its first byte is odd, so that the fragment path is
// reached.  Then a blob sealed with the deployment's keys, cut into fragments
// as the master server cuts it and sent in an order (with repeats) taken from
// the input: the fragments give the blob back, complete on the last new one.
#include <cstdint>
#include <cstring>
#include <vector>

#include "base/bytes.h"
#include "deploy_values.h"
#include "lookup_signing.h"
#include "ranked/ranked_blob.h"
#include "ranked/refresh_fragments.h"
#include "ranked/refresh_protocol.h"
#include "service/ranked_messages.h"

namespace {

using fuzz_support::check;
using ranked::fragment_result;

void any_datagrams(const uint8_t* data, size_t size, uint8_t* blob) {
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
    const fragment_result r = ranked::take_fragment(state, d.data(), d.size(), blob);
    check(state.blob_length <= ranked::ranked_blob_max_size);
    check((state.received & ~state.expected) == 0);
    if (r == fragment_result::failed || r == fragment_result::complete) break;
  }
}

void sealed_blob(const uint8_t* data, size_t size, uint8_t* blob) {
  if (size < 2) return;
  static const service::ranked_keys keys = service::make_ranked_keys(
      deploy::ranked_key_chain, deploy::ranked_mac_chain, deploy::ranked_feedback);
  const uint8_t nonce[16] = {9, 8, 7, 6, 5, 4, 3, 2, 1, 0, 1, 2, 3, 4, 5, 6};
  const std::vector<uint8_t> sealed =
      service::seal_ranked_blob(keys, nonce, std::vector<uint8_t>(data + 2, data + size));
  // The fragment size the first byte asks for, at least what 31 fragments need.
  const size_t largest = ranked::fragment_max_size - ranked::hmr_payload;
  const size_t least = (sealed.size() + ranked::fragment_max_count - 1) / ranked::fragment_max_count;
  if (least > largest) return;
  const size_t piece = least + data[0] % (largest - least + 1);
  const size_t count = (sealed.size() + piece - 1) / piece;
  const uint32_t session = 0x0BADF00D | 1u;
  std::vector<std::vector<uint8_t>> fragments;
  for (size_t i = 0; i < count; ++i) {
    const size_t offset = i * piece;
    const size_t n = sealed.size() - offset < piece ? sealed.size() - offset : piece;
    std::vector<uint8_t> f(ranked::hmr_payload + n);
    std::memcpy(f.data(), ranked::fragment_magic, 4);
    bytes::store_u32le(f.data() + ranked::hmr_session, session);
    f[ranked::hmr_index] = static_cast<uint8_t>(i);
    f[ranked::hmr_count] = static_cast<uint8_t>(count);
    bytes::store_u16le(f.data() + ranked::hmr_offset, static_cast<uint16_t>(offset));
    std::memcpy(f.data() + ranked::hmr_payload, sealed.data() + offset, n);
    fragments.push_back(f);
  }
  // The order: a shuffle driven by the input's bytes; a repeat of the
  // fragment before when a byte's top bit is set.
  std::vector<size_t> order(count);
  for (size_t i = 0; i < count; ++i) order[i] = i;
  for (size_t i = count; i > 1; --i) std::swap(order[i - 1], order[data[1 + i % (size - 1)] % i]);
  const uint8_t repeats = data[1];

  std::memset(blob, 0, ranked::ranked_blob_max_size);
  ranked::fragment_state state;
  state.session = session;
  for (size_t k = 0; k < count; ++k) {
    const auto& f = fragments[order[k]];
    const fragment_result r = ranked::take_fragment(state, f.data(), f.size(), blob);
    check(r == (k + 1 == count ? fragment_result::complete : fragment_result::taken));
    if (k > 0 && k + 1 < count && (repeats >> (k % 8)) & 1) {
      const auto& again = fragments[order[k - 1]];
      check(ranked::take_fragment(state, again.data(), again.size(), blob) ==
            fragment_result::ignored);
    }
  }
  check(state.blob_length == sealed.size());
  check(std::memcmp(blob, sealed.data(), sealed.size()) == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static std::vector<uint8_t> blob(ranked::ranked_blob_max_size);
  any_datagrams(data, size, blob.data());
  sealed_blob(data, size, blob.data());
  return 0;
}
