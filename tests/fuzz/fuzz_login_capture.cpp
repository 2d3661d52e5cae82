// Arbitrary bytes as a datagram on the game socket of a dedicated server;
// with the connection marker and a form byte laid over it when the first
// byte is odd, so that the length checks are reached.  A capture never reads
// past the datagram (ASan), and what it stores reads back.
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
  std::vector<uint8_t> d(data, data + size);
  if (d.size() >= sockets::connection_min_size && (d[0] & 1)) {
    bytes::store_u32le(d.data() + sockets::pc_kind, 7);
    bytes::store_u32le(d.data() + sockets::pc_marker, sockets::connect_marker);
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
