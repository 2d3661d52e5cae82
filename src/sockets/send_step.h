// The exported sendto, connect and closesocket steps.  Portable: the export
// layer calls these and makes the real call with what they decide.
#pragma once
#include <cstdint>

#include "platform/net.h"

namespace sockets {

// sendto in both modes: notes the query socket, copies a dedicated server's
// master-server (27900) and key-check (29910) packets from it to the forward
// addresses, and forwards the call; the real call's result.
int OSTREL_SOCKAPI intercept_sendto(uintptr_t s, const char* buffer, int length, int flags,
                                    const void* to, int to_length);

// connect: runs the ranked list refresh before a client's connection to 29900
// or 28910 and moves 28910 to 28911 when serverBrowserMode is 1.  Returns the
// address to connect to (name itself, or moved filled in) and sets *length.
const void* connect_target(const void* name, int name_length, uint8_t moved[16], int* length);

// closesocket: a client forgets its query socket.
void socket_closing(uintptr_t s);

}  // namespace sockets
