// Login capture.
#include "sockets/login_capture.h"

#include "base/bytes.h"
#include "sockets/player_logins.h"

namespace sockets {
namespace {

bool is_connection(const uint8_t* d) {
  const uint32_t kind = bytes::load_u32le(d + pc_kind);
  const bool form_a = (d[0] & 0x0F) == 0x0F && d[pc_form_a] == 0x0A && d[pc_form_c] == 0x84;
  const bool form_b = kind == 3 || kind == 7 || kind == 15 || kind == 31;
  const bool form_c = (kind & 0x1F) == 0x1F && d[pc_form_a] == 0x0A && d[pc_form_b] < 0x10;
  return (form_a || form_b || form_c) && bytes::load_u32le(d + pc_marker) == connect_marker;
}

}  // namespace

int login_capture(const uint8_t* data, size_t size, uint32_t address) {
  if (!data || size < connection_min_size || !is_connection(data)) return 1;
  const size_t name_length = bytes::load_u16le(data + pc_name_length);
  if (name_length < 1 || name_length > 29) return 1;
  const size_t p = pc_name + name_length;
  // p + 10 is at most 63; the fixed fields up to the skipped field's length fit in 61 + 2.
  if (p + pn_skip > size) return 1;
  const uint32_t profile = (bytes::load_u32le(data + p + pn_profile) >> 1) |
                           (static_cast<uint32_t>(data[p + pn_skip_length] & 1) << 31);
  const size_t skip = bytes::load_u16le(data + p + pn_skip_length);
  if (skip > 10) return 1;
  const size_t proof_length_at = p + pn_skip + skip;
  if (proof_length_at + 2 + login_proof_size > size) return 1;
  if (bytes::load_u16le(data + proof_length_at) != login_proof_size) return 1;
  const uint32_t slot = (bytes::load_u16le(data + pc_slot) >> 4) & 0xFF;
  store_login(slot, address, profile, data + pc_name, name_length, data + proof_length_at + 2,
              login_proof_size);
  return 0;
}

}  // namespace sockets
