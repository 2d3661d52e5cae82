// The three function pointers between the receive/send exports and the real
// functions.  Written at load and start-up only; read without a lock.
#pragma once
#include "platform/net.h"

namespace sockets {

extern platform::recvfrom_fn receive_dispatch;  // what the exported recvfrom enters
extern platform::recvfrom_fn real_receive;      // the real recvfrom, for the filters
extern platform::sendto_fn send_forward;        // the real sendto

// Points the receive dispatch at the server (mode 2) or client receive filter.
void select_receive_filter(int mode);

}  // namespace sockets
