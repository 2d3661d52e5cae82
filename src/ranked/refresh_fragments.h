// The transfer phase's handling of one received datagram: "HME1" and "HMR1"
// of this refresh's session; fragments are copied into the refresh's own
// blob buffer by their offset.
#pragma once
#include <cstddef>
#include <cstdint>

namespace ranked {

struct fragment_state {
  uint32_t session = 0;
  uint32_t expected = 0;  // 2^count - 1 once the first fragment arrived
  uint32_t received = 0;
  int since_ack = 0;      // fragments taken since the last acknowledgement
  size_t blob_length = 0; // set by the last fragment
};

enum class fragment_result {
  ignored,   // too short, another session or magic, a repeat, a bad count
  taken,     // a new fragment, more to come
  complete,  // every fragment has arrived
  failed,    // "HME1" for this session, or a fragment beyond 64000 bytes (logged)
};

// blob holds 64000 bytes.
fragment_result take_fragment(fragment_state& state, const uint8_t* datagram, size_t n,
                              uint8_t* blob);

}  // namespace ranked
