// Arbitrary bytes as a datagram on the game socket of a dedicated server.
// The first input byte is not sent: its low two bits lay one of the three
// connection packet forms (or none) with the connection marker over the
// datagram, the next bits pick among each form's kinds, and bit 4 lays
// announced lengths that fit, so that every form and the capture's later
// checks are reached by construction.  A capture never reads past the
// datagram (ASan), and what it stores reads back.
#include <cstdint>
#include <cstring>
#include <vector>

#include "base/bytes.h"
#include "lookup_signing.h"
#include "sockets/login_capture.h"
#include "sockets/player_logins.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool ready = sockets::player_logins_allocate() == 0;
  fuzz_support::check(ready);
  if (size == 0) return 0;
  const uint8_t shape = data[0];
  std::vector<uint8_t> d(data + 1, data + size);
  if (d.size() >= sockets::connection_min_size && (shape & 3) != 0) {
    const uint32_t variant = (shape >> 2) & 3;
    uint32_t kind = bytes::load_u32le(d.data() + sockets::pc_kind);
    if ((shape & 3) == 1) {  // form A: slot nibble, two form bytes
      d[0] |= 0x0F;
      d[sockets::pc_form_a] = 0x0A;
      d[sockets::pc_form_c] = 0x84;
    } else if ((shape & 3) == 2) {  // form B: one of four kinds
      const uint32_t kinds[4] = {3, 7, 15, 31};
      kind = kinds[variant];
    } else {  // form C: a kind whose low five bits are set, two form bytes
      kind = (kind & ~0x1Fu) | 0x1F;
      d[sockets::pc_form_a] = 0x0A;
      d[sockets::pc_form_b] &= 0x0F;
    }
    bytes::store_u32le(d.data() + sockets::pc_kind, kind);
    bytes::store_u32le(d.data() + sockets::pc_marker, sockets::connect_marker);
    if (shape & 0x10) {
      const size_t name_length = 1 + d[sockets::pc_name_length] % 29;
      bytes::store_u16le(d.data() + sockets::pc_name_length, static_cast<uint16_t>(name_length));
      const size_t p = sockets::pc_name + name_length;
      if (p + sockets::pn_skip <= d.size()) {
        const size_t skip = d[p + sockets::pn_skip_length] % 11;
        bytes::store_u16le(d.data() + p + sockets::pn_skip_length, static_cast<uint16_t>(skip));
        const size_t proof_length_at = p + sockets::pn_skip + skip;
        if (proof_length_at + 2 <= d.size())
          bytes::store_u16le(d.data() + proof_length_at, sockets::login_proof_size);
      }
    }
  }
  if (sockets::login_capture(d.data(), d.size(), 0x0100007F) == 0) {
    const uint32_t slot = (bytes::load_u16le(d.data()) >> 4) & 0xFF;
    const size_t name_length = bytes::load_u16le(d.data() + sockets::pc_name_length);
    const uint32_t profile = (bytes::load_u32le(d.data() + 24 + name_length + 4) >> 1) |
                             (static_cast<uint32_t>(d[24 + name_length + 8] & 1) << 31);
    uint8_t name[64], proof[64];
    size_t nl = sizeof name, pl = sizeof proof;
    const int found = sockets::login_record_read(profile, 0x0100007F, slot, name, proof, &nl, &pl);
    fuzz_support::check(profile == 0 || (found == 0 && nl == name_length && pl == 24));
  }
  return 0;
}
