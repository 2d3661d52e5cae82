// Receive filters entered through the receive dispatch pointer: the client's
// and the dedicated server's views of incoming datagrams.
#pragma once
#include <cstdint>

#include "platform/net.h"

namespace sockets {

int OSTREL_SOCKAPI client_receive_filter(uintptr_t s, char* buffer, int length, int flags,
                                         void* from, int* from_length);
int OSTREL_SOCKAPI server_receive_filter(uintptr_t s, char* buffer, int length, int flags,
                                         void* from, int* from_length);

}  // namespace sockets
