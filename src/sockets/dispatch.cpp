// Receive and send dispatch pointers.  Until start-up selects a filter, the
// exported recvfrom reaches the real function directly.
#include "sockets/dispatch.h"

#include "sockets/receive_filters.h"

namespace sockets {

platform::recvfrom_fn receive_dispatch = platform::real_recvfrom_function();
platform::recvfrom_fn real_receive = platform::real_recvfrom_function();
platform::sendto_fn send_forward = platform::real_sendto_function();

void select_receive_filter(int mode) {
  receive_dispatch = mode == 2 ? server_receive_filter : client_receive_filter;
}

}  // namespace sockets
