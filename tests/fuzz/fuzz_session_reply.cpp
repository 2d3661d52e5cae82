// The session reply check over arbitrary datagrams, for a fixed request (R,
// identity, provider ID).  Whatever arrives, the check reads only its 56 bytes
// and leaves the datagram as it was; what it accepts carries the request's
// identity.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "snapshot/session_messages.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const uint8_t r[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  static const snapshot::session_identity id{0x0700A8C0, 0x0302010A, 16567, 29900};
  const std::vector<uint8_t> copy(data, data + size);
  uint32_t flags = 0, service_time = 0;
  const int result =
      snapshot::check_session_reply(copy.data(), copy.size(), r, id, "PROV-fuzz", &flags,
                                    &service_time);
  if (result != 0 && result != 1) std::abort();
  if (result == 0 && size != snapshot::session_datagram_size) std::abort();
  if (size && std::memcmp(copy.data(), data, size) != 0) std::abort();
  return 0;
}
