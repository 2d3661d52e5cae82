// The five exports that step into traffic.  recvfrom enters the receive
// dispatch pointer; sendto forwards through the send forwarding pointer;
// gethostbyname is the name hook; the others reach the real functions until
// their handling is added.
#include <winsock2.h>

#include "redirect/name_hook.h"
#include "sockets/dispatch.h"

extern "C" {

int WSAAPI ostrel_recvfrom(SOCKET s, char* buffer, int length, int flags, sockaddr* from,
                           int* from_length) {
  return sockets::receive_dispatch(s, buffer, length, flags, from, from_length);
}

int WSAAPI ostrel_sendto(SOCKET s, const char* buffer, int length, int flags, const sockaddr* to,
                         int to_length) {
  return sockets::send_forward(s, buffer, length, flags, to, to_length);
}

int WSAAPI ostrel_connect(SOCKET s, const sockaddr* name, int name_length) {
  return connect(s, name, name_length);
}

int WSAAPI ostrel_closesocket(SOCKET s) { return closesocket(s); }

hostent* WSAAPI ostrel_gethostbyname(const char* name) {
  return static_cast<hostent*>(redirect::name_hook(name));
}

}  // extern "C"
