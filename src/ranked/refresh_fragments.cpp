// Fragment handling of the list transfer.
#include "ranked/refresh_fragments.h"

#include <cstring>

#include "base/bytes.h"
#include "core/log.h"
#include "ranked/ranked_blob.h"
#include "ranked/refresh_protocol.h"

namespace ranked {
namespace {
bool for_session(const uint8_t* d, const uint8_t* magic, uint32_t session) {
  return std::memcmp(d, magic, 4) == 0 && bytes::load_u32le(d + 4) == session;
}
}  // namespace

fragment_result take_fragment(fragment_state& state, const uint8_t* d, size_t n, uint8_t* blob) {
  if (n < error_min_size) return fragment_result::ignored;
  if (for_session(d, error_magic, state.session)) return fragment_result::failed;
  if (!for_session(d, fragment_magic, state.session) || n < hmr_payload)
    return fragment_result::ignored;
  const unsigned count = d[hmr_count];
  if (count < 1 || count > fragment_max_count) return fragment_result::ignored;
  if (state.expected == 0) state.expected = (1u << count) - 1u;
  const unsigned index = d[hmr_index];
  const uint32_t bit = 1u << (index % 32);
  if (state.received & bit) return fragment_result::ignored;
  const size_t offset = bytes::load_u16le(d + hmr_offset);
  const size_t payload = n - hmr_payload;
  if (offset + payload > ranked_blob_max_size) {
    core::log_printf("HRQ1: buffer too small: %d %d %d %d\r\n", static_cast<int>(offset),
                     static_cast<int>(n), static_cast<int>(hmr_payload),
                     static_cast<int>(ranked_blob_max_size));
    return fragment_result::failed;
  }
  std::memcpy(blob + offset, d + hmr_payload, payload);
  if (count == index + 1) state.blob_length = offset + payload;
  ++state.since_ack;
  state.received = (state.received | bit) & state.expected;
  return state.received == state.expected ? fragment_result::complete : fragment_result::taken;
}

}  // namespace ranked
