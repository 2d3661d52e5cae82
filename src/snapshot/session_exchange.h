// The session exchange: once a minute the worker sends the statistics service a
// signed description of this server and takes session flags, the service's
// clock and the exchange midpoint from its signed reply.
#pragma once
#include <cstdint>

#include "platform/net.h"

namespace snapshot {

inline constexpr uint16_t session_port = 29950;
inline constexpr uint32_t session_wait_ms = 2000;
inline constexpr uint32_t session_poll_ms = 250;

// One request to every address of the statistics host and the wait for a
// valid reply, on the worker's datagram socket.  An accepted reply updates
// the script service state block; anything else leaves it as it was.  0 when
// a reply was accepted, session_socket_lost when a send, wait or receive
// found the socket's handle gone (the worker then makes a new socket for the
// next exchange), 1 otherwise.
inline constexpr int session_socket_lost = 2;
int session_exchange(platform::socket_handle s);

}  // namespace snapshot
