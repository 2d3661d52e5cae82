// Receive filters: for now both hand every datagram through unchanged.
#include "sockets/receive_filters.h"

#include "sockets/dispatch.h"

namespace sockets {

int OSTREL_SOCKAPI client_receive_filter(uintptr_t s, char* buffer, int length, int flags,
                                         void* from, int* from_length) {
  return real_receive(s, buffer, length, flags, from, from_length);
}

int OSTREL_SOCKAPI server_receive_filter(uintptr_t s, char* buffer, int length, int flags,
                                         void* from, int* from_length) {
  return real_receive(s, buffer, length, flags, from, from_length);
}

}  // namespace sockets
